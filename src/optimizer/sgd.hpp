#pragma once
#include "layer/layer.hpp"
#include "optimizer/dyn_optimizer.hpp"

void sgd_update(const DynamicOptimizer& opt, Layer& layer);
