#include "model/report.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "format.hpp"
#include "panic.hpp"

// Epoch numbers are right-aligned to four places; longer ones are written in full.
static std::string padded_epoch(uint32_t epoch) {
    std::string digits = std::to_string(epoch);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), ' ');
    return digits;
}

static std::string three(float value) { return format_fixed(value, 3); }
static std::string one(float value) { return format_fixed(value, 1); }

std::string training_line(uint32_t epoch, float accuracy, float data_loss, float reg_loss,
                          const std::string& loss_type, float learning_rate) {
    float total = data_loss + reg_loss;
    return "epoch: " + padded_epoch(epoch) + ", acc: " + three(accuracy) + ", loss: " +
           three(total) + " [" + loss_type + ": " + three(data_loss) + ", reg: " +
           three(reg_loss) + "], lr " + format_shortest(learning_rate) + "\n";
}

std::string validation_line(float accuracy, float data_loss, float reg_loss,
                            const std::string& loss_type) {
    float total = data_loss + reg_loss;
    return "validation:  acc: " + three(accuracy) + ", loss: " + three(total) + " [" +
           loss_type + ": " + three(data_loss) + ", reg: " + three(reg_loss) + "]\n";
}

std::string linear_sample_line(float target, float prediction, float error) {
    return "True: " + three(target) + ", Predicted: " + three(prediction) + ", Error " +
           three(error) + "\n";
}

std::string linear_summary_line(float mean_error, float percent) {
    return "Validation MSE: " + three(mean_error) + ", Accuracy " + one(percent) + "%\n";
}

std::string categorical_sample_line(int32_t target, int32_t prediction, float certainty) {
    return "True: " + std::to_string(target) + ", Predicted: " + std::to_string(prediction) +
           ", Certainty: " + one(certainty) + "%\n";
}

std::string categorical_summary_line(float percent) {
    return "Validation accuracy " + one(percent) + "%\n";
}

void write_line(int fd, const std::string& line, const char* stream_name, const RunHooks& hooks) {
    const char* next = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            // Python installs its signal handlers without SA_RESTART, so any
            // handled signal lands here as EINTR.
            if (errno == EINTR) {
                hooks.check_interrupt();
                continue;
            }
            int error = errno;
            throw Panic(std::string("failed printing to ") + stream_name + ": " +
                        std::strerror(error) + " (os error " + std::to_string(error) + ")");
        }
        if (written == 0)  // no progress and no error: give up rather than spin
            throw Panic(std::string("failed printing to ") + stream_name + ": nothing was written");
        next += written;
        left -= size_t(written);
    }
}

void print_line(const std::string& line, const RunHooks& hooks) {
    write_line(STDOUT_FILENO, line, "stdout", hooks);
}
