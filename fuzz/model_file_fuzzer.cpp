// The model-file reader on arbitrary bytes. Refusing the input with a Panic is
// fine; anything else (a crash, a sanitizer report, another exception) is a
// finding. A text that loads must survive write -> read -> write unchanged.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/file_json.hpp"
#include "panic.hpp"

namespace {

template <class Model>
void check_round_trip(std::string_view text, Model (*parse)(std::string_view)) {
    Model model;
    try {
        model = parse(text);
    } catch (const Panic&) {
        return;
    }
    std::string first = model_json(model);
    std::string second = model_json(parse(first));  // a Panic here escapes: a finding
    if (first != second) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    check_round_trip<LinearModel>(text, parse_linear_model);
    check_round_trip<CategoricalModel>(text, parse_categorical_model);
    return 0;
}
