#pragma once
// The model's JSON file: written during training, read by the load functions.

#include <string>

#include "model/categorical.hpp"
#include "model/linear.hpp"

// Writes the whole model to `path` through a temporary file in the same
// directory, synced to disk and renamed over the target, so neither a failed
// write nor a killed process nor a crash destroys the previous file. Panics
// (OS error) when the file cannot be created; a later write error removes
// the temporary file, warns on stderr and returns false.
// A non-null first_layer_inputs is saved as the first layer's `inputs`: a
// training run that reads the samples where they lie stores no copy of them.
bool save_model_file(const LinearModel& model, const std::string& path,
                     const MatrixView* first_layer_inputs = nullptr);
bool save_model_file(const CategoricalModel& model, const std::string& path,
                     const MatrixView* first_layer_inputs = nullptr);

// Panics, as save_model_file would, when `path` cannot be created or
// replaced; leaves nothing behind either way.
void check_model_file_creatable(const std::string& path);

// "brenik: warning: <message>" on standard error, for a save that could not
// be made while the call was already failing.
void warn_save_failed(const char* message) noexcept;

// For tests: saves take the way of file systems without unnamed temporary
// files (a named one beside the target) even where O_TMPFILE works.
extern bool named_temp_files_only;

// Panics with the OS error, or with the reader's description and line:column.
LinearModel load_linear_model_file(const std::string& path);
CategoricalModel load_categorical_model_file(const std::string& path);
