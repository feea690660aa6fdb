#pragma once
// Classification model: softmax output, categorical cross-entropy, arg-max accuracy.

#include <string>
#include <vector>

#include "array.hpp"
#include "layer/layer.hpp"
#include "model/run.hpp"
#include "optimizer/dyn_optimizer.hpp"

struct CategoricalModel {
    std::vector<Layer> layers;                       // input side first
    std::string output_type = "softmax";
    std::string loss_type = "categorical_crossentropy";
    std::string acc_type = "categorical";
    std::string save_best_params;                    // empty: no file is written

    bool operator==(const CategoricalModel&) const = default;
};

CategoricalModel create_categorical_model(const std::string& output_type,
                                          const std::string& save_best_params);

void train_categorical_model(CategoricalModel model, DynamicOptimizer opt, uint16_t num_epochs,
                             uint16_t print_freq, const StridedView<float>& x,
                             const StridedView<int32_t>& y, const StridedView<float>& val_x,
                             const StridedView<int32_t>& val_y, const RunHooks& hooks);

void evaluate_categorical_model(CategoricalModel model, const StridedView<float>& val_x,
                                const StridedView<int32_t>& val_y, const RunHooks& hooks);
