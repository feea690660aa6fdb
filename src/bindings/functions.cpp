// The eleven module functions: bind and convert the arguments, run the
// operation on the converted copies, wrap the result.
#include "bindings/functions.hpp"

#include <iterator>
#include <optional>
#include <string>

#include "bindings/binding.hpp"
#include "bindings/classes.hpp"
#include "bindings/failure.hpp"
#include "bindings/intake.hpp"
#include "bindings/py_ref.hpp"
#include "layer/layer.hpp"
#include "model/file.hpp"

namespace {

// A vectorcall argument list as the interpreter hands it over.
struct Call {
    PyObject* const* args;
    Py_ssize_t nargs;
    PyObject* kwnames;
};

constexpr const char* create_model_params[] = {"output_type", "save_best_params"};
constexpr const char* add_layer_params[] = {"model", "n_inputs", "n_neurons", "layer_type",
                                            "activation_type", "dropout_rate"};
constexpr const char* create_optimizer_params[] = {"opt_type", "learning_rate", "decay"};
constexpr const char* train_params[] = {"model", "opt", "num_epochs", "print_freq",
                                        "x", "y", "val_x", "val_y"};
constexpr const char* load_params[] = {"save_best_params"};
constexpr const char* evaluate_params[] = {"model", "val_x", "val_y"};

const Signature create_linear_model_signature{"create_linear_model", create_model_params, 2};
const Signature create_categorical_model_signature{"create_categorical_model", create_model_params, 2};
const Signature add_linear_model_layer_signature{"add_linear_model_layer", add_layer_params, 1};
const Signature add_categorical_model_layer_signature{"add_categorical_model_layer", add_layer_params, 1};
const Signature create_optimizer_signature{"create_optimizer", create_optimizer_params, 3};
const Signature train_linear_model_signature{"train_linear_model", train_params, 8};
const Signature train_categorical_model_signature{"train_categorical_model", train_params, 8};
const Signature load_linear_model_signature{"load_linear_model", load_params, 1};
const Signature evaluate_linear_model_signature{"evaluate_linear_model", evaluate_params, 3};
const Signature load_categorical_model_signature{"load_categorical_model", load_params, 1};
const Signature evaluate_categorical_model_signature{"evaluate_categorical_model", evaluate_params, 3};

// Training and evaluation write their lines straight to file descriptor 1;
// whatever the script printed before must come out first. A failing flush
// is not this call's failure.
void flush_python_stdout() {
    PyObject* stdout_object = PySys_GetObject("stdout");  // borrowed; NULL or None when unset
    if (stdout_object == nullptr || stdout_object == Py_None) return;
    PyRef held(Py_NewRef(stdout_object));
    PyRef result(PyObject_CallMethod(held.get(), "flush", nullptr));
    if (!result) PyErr_Clear();
}

// Lets Ctrl-C (and any Python signal handler that raises) end a long run.
RunHooks python_hooks() {
    RunHooks hooks;
    hooks.check_interrupt = [] {
        if (PyErr_CheckSignals() == -1) throw Interrupted{};
    };
    return hooks;
}

template <class Model>
PyObject* create_model(const Signature& signature, const Call& call,
                       Model (*create)(const std::string&, const std::string&)) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[std::size(create_model_params)];
        std::string output_type;
        std::string save_best_params;
        if (!bind_arguments(signature, call.args, call.nargs, call.kwnames, slots) ||
            !convert_arguments(signature, slots, output_type, save_best_params))
            return nullptr;
        return wrap_record(create(output_type, save_best_params));
    });
}

// Appends to a copy of the model; the object passed in keeps its layers.
template <class Model>
PyObject* add_model_layer(const Signature& signature, const Call& call) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[std::size(add_layer_params)];
        Model model;
        std::optional<uint64_t> n_inputs;
        std::optional<uint64_t> n_neurons;
        std::optional<std::string> layer_type;
        std::optional<std::string> activation_type;
        std::optional<float> dropout_rate;
        if (!bind_arguments(signature, call.args, call.nargs, call.kwnames, slots) ||
            !convert_arguments(signature, slots, model, n_inputs, n_neurons, layer_type,
                               activation_type, dropout_rate))
            return nullptr;
        LayerSpec spec;
        if (n_inputs) spec.n_inputs = *n_inputs;
        if (n_neurons) spec.n_neurons = *n_neurons;
        if (layer_type) spec.layer_type = std::move(*layer_type);
        if (activation_type) spec.activation_type = std::move(*activation_type);
        if (dropout_rate) spec.dropout_rate = *dropout_rate;
        model.layers.push_back(build_layer(spec));
        return wrap_record(std::move(model));
    });
}

template <class Model, class Targets>
using TrainFunction = void (*)(Model, DynamicOptimizer, uint16_t, uint16_t, const StridedView<float>&,
                               const StridedView<Targets>&, const StridedView<float>&,
                               const StridedView<Targets>&, const RunHooks&);

template <class Model, class TargetArg, class Targets>
PyObject* train_model(const Signature& signature, const Call& call, TrainFunction<Model, Targets> train) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[std::size(train_params)];
        Model model;
        DynamicOptimizer opt;
        uint16_t num_epochs = 0;
        uint16_t print_freq = 0;
        MatrixArg x;
        TargetArg y;
        MatrixArg val_x;
        TargetArg val_y;
        if (!bind_arguments(signature, call.args, call.nargs, call.kwnames, slots) ||
            !convert_arguments(signature, slots, model, opt, num_epochs, print_freq, x, y, val_x, val_y))
            return nullptr;
        flush_python_stdout();
        train(std::move(model), std::move(opt), num_epochs, print_freq, x.view, y.view, val_x.view,
              val_y.view, python_hooks());
        Py_RETURN_NONE;
    });
}

template <class Model, class Targets>
using EvaluateFunction = void (*)(Model, const StridedView<float>&, const StridedView<Targets>&,
                                  const RunHooks&);

template <class Model, class TargetArg, class Targets>
PyObject* evaluate_model(const Signature& signature, const Call& call,
                         EvaluateFunction<Model, Targets> evaluate) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[std::size(evaluate_params)];
        Model model;
        MatrixArg val_x;
        TargetArg val_y;
        if (!bind_arguments(signature, call.args, call.nargs, call.kwnames, slots) ||
            !convert_arguments(signature, slots, model, val_x, val_y))
            return nullptr;
        flush_python_stdout();
        evaluate(std::move(model), val_x.view, val_y.view, python_hooks());
        Py_RETURN_NONE;
    });
}

template <class Model>
PyObject* load_model(const Signature& signature, const Call& call, Model (*load)(const std::string&)) {
    return guarded([&]() -> PyObject* {
        PyObject* slots[std::size(load_params)];
        std::string save_best_params;
        if (!bind_arguments(signature, call.args, call.nargs, call.kwnames, slots) ||
            !convert_arguments(signature, slots, save_best_params))
            return nullptr;
        return wrap_record(load(save_best_params));
    });
}

// The entry points, in the order of the function table.

PyObject* py_create_linear_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return create_model(create_linear_model_signature, {args, nargs, kwnames}, create_linear_model);
}

PyObject* py_create_categorical_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    return create_model(create_categorical_model_signature, {args, nargs, kwnames},
                        create_categorical_model);
}

PyObject* py_add_linear_model_layer(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return add_model_layer<LinearModel>(add_linear_model_layer_signature, {args, nargs, kwnames});
}

PyObject* py_add_categorical_model_layer(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
    return add_model_layer<CategoricalModel>(add_categorical_model_layer_signature,
                                             {args, nargs, kwnames});
}

PyObject* py_create_optimizer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Signature& signature = create_optimizer_signature;
        PyObject* slots[std::size(create_optimizer_params)];
        std::string opt_type;
        float learning_rate = 0.0f;
        float decay = 0.0f;
        if (!bind_arguments(signature, args, nargs, kwnames, slots) ||
            !convert_arguments(signature, slots, opt_type, learning_rate, decay))
            return nullptr;
        return wrap_record(create_optimizer(opt_type, learning_rate, decay));
    });
}

PyObject* py_train_linear_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return train_model<LinearModel, VectorArg, float>(train_linear_model_signature,
                                                      {args, nargs, kwnames}, train_linear_model);
}

PyObject* py_train_categorical_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return train_model<CategoricalModel, LabelArg, int32_t>(
        train_categorical_model_signature, {args, nargs, kwnames}, train_categorical_model);
}

PyObject* py_load_linear_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return load_model(load_linear_model_signature, {args, nargs, kwnames}, load_linear_model_file);
}

PyObject* py_evaluate_linear_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return evaluate_model<LinearModel, VectorArg, float>(evaluate_linear_model_signature,
                                                         {args, nargs, kwnames}, evaluate_linear_model);
}

PyObject* py_load_categorical_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return load_model(load_categorical_model_signature, {args, nargs, kwnames},
                      load_categorical_model_file);
}

PyObject* py_evaluate_categorical_model(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
    return evaluate_model<CategoricalModel, LabelArg, int32_t>(
        evaluate_categorical_model_signature, {args, nargs, kwnames}, evaluate_categorical_model);
}

template <class Function>
PyCFunction as_cfunction(Function function) {
    // METH_FASTCALL | METH_KEYWORDS entry points are stored under the generic type.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int fastcall_flags = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

// Each docstring is the signature line, then "--" and a blank line, so that
// __text_signature__ reads the parameters and __doc__ is None.
PyMethodDef module_functions[] = {
    {"create_linear_model", as_cfunction(py_create_linear_model), fastcall_flags,
     "create_linear_model(output_type, save_best_params)\n--\n\n"},
    {"create_categorical_model", as_cfunction(py_create_categorical_model), fastcall_flags,
     "create_categorical_model(output_type, save_best_params)\n--\n\n"},
    {"add_linear_model_layer", as_cfunction(py_add_linear_model_layer), fastcall_flags,
     "add_linear_model_layer(model, n_inputs=None, n_neurons=None, layer_type=None, "
     "activation_type=None, dropout_rate=None)\n--\n\n"},
    {"add_categorical_model_layer", as_cfunction(py_add_categorical_model_layer), fastcall_flags,
     "add_categorical_model_layer(model, n_inputs=None, n_neurons=None, layer_type=None, "
     "activation_type=None, dropout_rate=None)\n--\n\n"},
    {"create_optimizer", as_cfunction(py_create_optimizer), fastcall_flags,
     "create_optimizer(opt_type, learning_rate, decay)\n--\n\n"},
    {"train_linear_model", as_cfunction(py_train_linear_model), fastcall_flags,
     "train_linear_model(model, opt, num_epochs, print_freq, x, y, val_x, val_y)\n--\n\n"},
    {"train_categorical_model", as_cfunction(py_train_categorical_model), fastcall_flags,
     "train_categorical_model(model, opt, num_epochs, print_freq, x, y, val_x, val_y)\n--\n\n"},
    {"load_linear_model", as_cfunction(py_load_linear_model), fastcall_flags,
     "load_linear_model(save_best_params)\n--\n\n"},
    {"evaluate_linear_model", as_cfunction(py_evaluate_linear_model), fastcall_flags,
     "evaluate_linear_model(model, val_x, val_y)\n--\n\n"},
    {"load_categorical_model", as_cfunction(py_load_categorical_model), fastcall_flags,
     "load_categorical_model(save_best_params)\n--\n\n"},
    {"evaluate_categorical_model", as_cfunction(py_evaluate_categorical_model), fastcall_flags,
     "evaluate_categorical_model(model, val_x, val_y)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};
