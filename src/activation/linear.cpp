#include "activation/linear.hpp"

Matrix linear_forward(const Matrix& inputs) { return inputs; }
