#include "model/report.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <string>

#include "panic.hpp"

namespace {

const float nan_value = std::numeric_limits<float>::quiet_NaN();
const float inf_value = std::numeric_limits<float>::infinity();

TEST(TrainingLine, MatchesTheDocumentedExample) {
    EXPECT_EQ(training_line(10, 0.25f, 1.2f, 0.034f, "mean_squared_error", 0.001f),
              "epoch:   10, acc: 0.250, loss: 1.234 [mean_squared_error: 1.200, reg: 0.034], "
              "lr 0.001\n");
}

TEST(TrainingLine, EpochIsRightAlignedToFourPlacesAndNeverCut) {
    struct Case {
        uint32_t epoch;
        const char* field;
    };
    for (Case c : {Case{7, "epoch:    7,"}, Case{1234, "epoch: 1234,"}, Case{12345, "epoch: 12345,"},
                   Case{65535, "epoch: 65535,"}}) {
        std::string line = training_line(c.epoch, 0.0f, 0.0f, 0.0f, "l", 1.0f);
        EXPECT_EQ(line.substr(0, std::string(c.field).size()), c.field) << line;
    }
}

TEST(TrainingLine, TotalIsTheFloatSumOfDataAndRegularisationLoss) {
    // 0.1f + 0.2f is 0.3000000119..., which still prints 0.300; 0.0005f + 0.0f sits just
    // above the tie and rounds up, while 0.0625 is an exact tie and goes to the even digit.
    EXPECT_EQ(training_line(1, 0.0625f, 0.0005f, 0.0f, "x", 1.0f),
              "epoch:    1, acc: 0.062, loss: 0.001 [x: 0.001, reg: 0.000], lr 1\n");
    EXPECT_EQ(training_line(2, 1.0f, 0.1f, 0.2f, "", 0.5f),
              "epoch:    2, acc: 1.000, loss: 0.300 [: 0.100, reg: 0.200], lr 0.5\n");
}

TEST(TrainingLine, NonFiniteValuesAndRatesWithoutExponent) {
    EXPECT_EQ(training_line(3, nan_value, inf_value, 1.0f, "categorical_crossentropy", 1e-7f),
              "epoch:    3, acc: NaN, loss: inf [categorical_crossentropy: inf, reg: 1.000], "
              "lr 0.0000001\n");
    EXPECT_EQ(training_line(4, -0.5f, -inf_value, inf_value, "m", nan_value),
              "epoch:    4, acc: -0.500, loss: NaN [m: -inf, reg: inf], lr NaN\n");
    EXPECT_EQ(training_line(5, 0.0f, 12.0f, 0.0f, "m", 100.0f),
              "epoch:    5, acc: 0.000, loss: 12.000 [m: 12.000, reg: 0.000], lr 100\n");
}

TEST(ValidationLine, HasTwoSpacesAfterTheColon) {
    EXPECT_EQ(validation_line(0.3f, 1.066f, 0.034f, "mean_squared_error"),
              "validation:  acc: 0.300, loss: 1.100 [mean_squared_error: 1.066, reg: 0.034]\n");
    EXPECT_EQ(validation_line(nan_value, 0.0f, 0.0f, "other"),
              "validation:  acc: NaN, loss: 0.000 [other: 0.000, reg: 0.000]\n");
}

TEST(EvaluationLines, LinearSampleAndSummary) {
    EXPECT_EQ(linear_sample_line(1.0f, 1.5f, 0.5f), "True: 1.000, Predicted: 1.500, Error 0.500\n");
    EXPECT_EQ(linear_sample_line(-3.0f, 5.0f, 8.0f),
              "True: -3.000, Predicted: 5.000, Error 8.000\n");
    float mean = 2.5f / 3.0f;
    float percent = (2.0f / 3.0f) * 100.0f;
    EXPECT_EQ(linear_summary_line(mean, percent), "Validation MSE: 0.833, Accuracy 66.7%\n");
    EXPECT_EQ(linear_summary_line(nan_value, nan_value), "Validation MSE: NaN, Accuracy NaN%\n");
}

TEST(EvaluationLines, CategoricalSampleAndSummary) {
    EXPECT_EQ(categorical_sample_line(1, 0, 30.0f), "True: 1, Predicted: 0, Certainty: 30.0%\n");
    EXPECT_EQ(categorical_sample_line(-1, 12, 100.0f),
              "True: -1, Predicted: 12, Certainty: 100.0%\n");
    EXPECT_EQ(categorical_summary_line(87.46f), "Validation accuracy 87.5%\n");
    // 87.45f is 87.4499969...: correctly rounded, not rounded twice.
    EXPECT_EQ(categorical_summary_line(87.45f), "Validation accuracy 87.4%\n");
    EXPECT_EQ(categorical_summary_line(nan_value), "Validation accuracy NaN%\n");
}

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe() {
        int fds[2];
        if (pipe(fds) == 0) {
            read_end = fds[0];
            write_end = fds[1];
        }
    }
    ~Pipe() {
        if (read_end >= 0) close(read_end);
        if (write_end >= 0) close(write_end);
    }
};

TEST(WriteLine, DeliversTheWholeLine) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    std::string line(3000, 'a');
    line += "\n";
    write_line(p.write_end, line, "stdout", RunHooks{});
    std::string got(line.size(), '\0');
    size_t have = 0;
    while (have < got.size()) {
        ssize_t n = read(p.read_end, got.data() + have, got.size() - have);
        ASSERT_GT(n, 0);
        have += size_t(n);
    }
    EXPECT_EQ(got, line);
}

TEST(WriteLine, ReportsTheOperatingSystemErrorNamingTheStream) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    close(p.read_end);
    p.read_end = -1;
    auto old_handler = std::signal(SIGPIPE, SIG_IGN);  // as under Python
    try {
        write_line(p.write_end, "x\n", "stdout", RunHooks{});
        ADD_FAILURE() << "a write to a pipe without reader succeeded";
    } catch (const Panic& e) {
        EXPECT_STREQ(e.what(), "failed printing to stdout: Broken pipe (os error 32)");
    }
    std::signal(SIGPIPE, old_handler);

    try {
        write_line(-1, "x\n", "stdout", RunHooks{});
        ADD_FAILURE() << "a write to fd -1 succeeded";
    } catch (const Panic& e) {
        EXPECT_STREQ(e.what(), "failed printing to stdout: Bad file descriptor (os error 9)");
    }
}

// Fills the pipe so that the next blocking write waits for a reader.
void fill_pipe(int write_end) {
    int flags = fcntl(write_end, F_GETFL);
    fcntl(write_end, F_SETFL, flags | O_NONBLOCK);
    char block[4096] = {};
    while (write(write_end, block, sizeof block) > 0) {
    }
    fcntl(write_end, F_SETFL, flags);
}

void on_alarm(int) {}

// Like Python's handlers: no SA_RESTART, so the blocked write returns EINTR.
void arm_alarm_without_restart() {
    struct sigaction action = {};
    action.sa_handler = on_alarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    itimerval timer = {};
    timer.it_value.tv_usec = 20000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

TEST(WriteLine, AnInterruptedWriteAsksTheHooksAndStopsWhenTheyThrow) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    fill_pipe(p.write_end);
    int checks = 0;
    RunHooks hooks;
    hooks.check_interrupt = [&checks] {
        checks += 1;
        throw Interrupted{};
    };
    arm_alarm_without_restart();
    EXPECT_THROW(write_line(p.write_end, "x\n", "stdout", hooks), Interrupted);
    EXPECT_EQ(checks, 1);
}

TEST(WriteLine, AnInterruptedWriteResumesWhenTheHooksLetItGoOn) {
    Pipe p;
    ASSERT_GE(p.write_end, 0);
    fill_pipe(p.write_end);
    int checks = 0;
    RunHooks hooks;
    hooks.check_interrupt = [&checks, &p] {
        checks += 1;
        char sink[4096];  // a reader shows up: make room for the line
        for (int i = 0; i < 4; ++i) (void)!read(p.read_end, sink, sizeof sink);
    };
    arm_alarm_without_restart();
    write_line(p.write_end, "whole line\n", "stdout", hooks);
    EXPECT_EQ(checks, 1);
}

}  // namespace
