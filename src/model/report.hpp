#pragma once
// The lines that training and evaluation print, and the one way they reach
// standard output: file descriptor 1, one write per whole line, bypassing any
// buffer of the C library or of Python.

#include <cstdint>
#include <string>

#include "model/run.hpp"

// "epoch:   10, acc: 0.250, loss: 1.234 [mean_squared_error: 1.200, reg: 0.034], lr 0.001\n"
// The total is data_loss + reg_loss; lr is the rate in force for this epoch's update.
std::string training_line(uint32_t epoch, float accuracy, float data_loss, float reg_loss,
                          const std::string& loss_type, float learning_rate);

// "validation:  acc: 0.300, loss: 1.100 [mean_squared_error: 1.066, reg: 0.034]\n"
std::string validation_line(float accuracy, float data_loss, float reg_loss,
                            const std::string& loss_type);

// "True: 1.000, Predicted: 1.500, Error 0.500\n"
std::string linear_sample_line(float target, float prediction, float error);
// "Validation MSE: 0.833, Accuracy 66.7%\n" (the first figure is the mean absolute error)
std::string linear_summary_line(float mean_error, float percent);

// "True: 1, Predicted: 0, Certainty: 30.0%\n"
std::string categorical_sample_line(int32_t target, int32_t prediction, float certainty);
// "Validation accuracy 50.0%\n"
std::string categorical_summary_line(float percent);

// Writes all of `line` to `fd` (one write unless the descriptor takes less),
// continuing after partial writes. A write interrupted by a signal asks
// `hooks` whether to stop (Ctrl-C throws Interrupted) and otherwise retries,
// so a stalled reader cannot make the call deaf to Ctrl-C. Panics
// "failed printing to <stream_name>: <OS error> (os error N)" when the
// descriptor refuses the line.
void write_line(int fd, const std::string& line, const char* stream_name, const RunHooks& hooks);

// write_line to the process's standard output.
void print_line(const std::string& line, const RunHooks& hooks);
