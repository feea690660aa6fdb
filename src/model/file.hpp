#pragma once
// The model's JSON file: written during training, read by the load functions.

#include <string>

#include "model/categorical.hpp"
#include "model/linear.hpp"

// Writes the whole model to `path` through a temporary file in the same
// directory renamed over the target, so a failed write never destroys the
// previous file. Panics (OS error) when the file cannot be created; a later
// write error removes the temporary file, warns on stderr and returns.
void save_model_file(const LinearModel& model, const std::string& path);
void save_model_file(const CategoricalModel& model, const std::string& path);

// Panics with the OS error, or with the reader's description and line:column.
LinearModel load_linear_model_file(const std::string& path);
CategoricalModel load_categorical_model_file(const std::string& path);
