// Entry points whose work is still being written. Each fails loudly instead of
// pretending to work; each moves to its own module as it is built.
#include "model/file.hpp"
#include "panic.hpp"

void train_linear_model(LinearModel, DynamicOptimizer, uint16_t, uint16_t, const StridedView<float>&,
                        const StridedView<float>&, const StridedView<float>&,
                        const StridedView<float>&, const RunHooks&) {
    throw Panic("train_linear_model is not built yet");
}
void evaluate_linear_model(LinearModel, const StridedView<float>&, const StridedView<float>&,
                           const RunHooks&) {
    throw Panic("evaluate_linear_model is not built yet");
}
void train_categorical_model(CategoricalModel, DynamicOptimizer, uint16_t, uint16_t,
                             const StridedView<float>&, const StridedView<int32_t>&,
                             const StridedView<float>&, const StridedView<int32_t>&,
                             const RunHooks&) {
    throw Panic("train_categorical_model is not built yet");
}
void evaluate_categorical_model(CategoricalModel, const StridedView<float>&,
                                const StridedView<int32_t>&, const RunHooks&) {
    throw Panic("evaluate_categorical_model is not built yet");
}
LinearModel load_linear_model_file(const std::string&) { throw Panic("loading is not built yet"); }
CategoricalModel load_categorical_model_file(const std::string&) {
    throw Panic("loading is not built yet");
}
