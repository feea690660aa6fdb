#pragma once
#include <vector>

#include "layer/layer.hpp"

float regularization_loss(const Layer& layer);
// Sum over the model's layers in list order.
float regularization_loss(const std::vector<Layer>& layers);
