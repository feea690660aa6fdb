#pragma once
// Regression model: linear output, mean squared error, tolerance accuracy.

#include <string>
#include <vector>

#include "array.hpp"
#include "layer/layer.hpp"
#include "model/run.hpp"
#include "optimizer/dyn_optimizer.hpp"

struct LinearModel {
    std::vector<Layer> layers;                     // input side first
    std::string output_type = "linear";
    std::string loss_type = "mean_squared_error";
    std::string acc_type = "linear";
    float acc_precision = 1.0f;                    // a prediction within this of its target is right
    std::string save_best_params;                  // empty: no file is written

    bool operator==(const LinearModel&) const = default;
};

LinearModel create_linear_model(const std::string& output_type, const std::string& save_best_params);

void train_linear_model(LinearModel model, DynamicOptimizer opt, uint16_t num_epochs,
                        uint16_t print_freq, const StridedView<float>& x,
                        const StridedView<float>& y, const StridedView<float>& val_x,
                        const StridedView<float>& val_y, const RunHooks& hooks);

void evaluate_linear_model(LinearModel model, const StridedView<float>& val_x,
                           const StridedView<float>& val_y, const RunHooks& hooks);
