#include "optimizer/dyn_optimizer.hpp"

DynamicOptimizer create_optimizer(const std::string& opt_type, float learning_rate, float decay) {
    DynamicOptimizer opt;
    opt.opt_type = opt_type;
    opt.learning_rate = learning_rate;
    opt.decay = decay;
    return opt;
}
