#pragma once
#include "array.hpp"

Matrix linear_forward(const Matrix& inputs);
