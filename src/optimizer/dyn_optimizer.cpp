#include "optimizer/dyn_optimizer.hpp"

#include "optimizer/adam.hpp"
#include "optimizer/sgd.hpp"

DynamicOptimizer create_optimizer(const std::string& opt_type, float learning_rate, float decay) {
    DynamicOptimizer opt;
    opt.opt_type = opt_type;
    opt.learning_rate = learning_rate;
    opt.decay = decay;
    return opt;
}

void decay_learning_rate(DynamicOptimizer& opt) {
    if (opt.decay == 0.0f) return;  // NaN goes on
    float scaled = opt.decay * float(opt.iterations) + 1.0f;
    opt.current_learning_rate = (1.0f / scaled) * opt.learning_rate;
}

void update_layer(const DynamicOptimizer& opt, Layer& layer) {
    if (opt.opt_type == "adam") adam_update(opt, layer);
    if (opt.opt_type == "tf_adam") tf_adam_update(opt, layer);
    if (opt.opt_type == "sgd") sgd_update(opt, layer);
}

void count_iteration(DynamicOptimizer& opt) { opt.iterations = int32_t(uint32_t(opt.iterations) + 1u); }
