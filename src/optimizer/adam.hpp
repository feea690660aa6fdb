#pragma once
#include "layer/layer.hpp"
#include "optimizer/dyn_optimizer.hpp"

void adam_update(const DynamicOptimizer& opt, Layer& layer);
void tf_adam_update(const DynamicOptimizer& opt, Layer& layer);
