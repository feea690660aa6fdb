#include "model/categorical.hpp"

CategoricalModel create_categorical_model(const std::string& output_type,
                                          const std::string& save_best_params) {
    CategoricalModel model;
    model.output_type = output_type;
    model.save_best_params = save_best_params;
    return model;
}
