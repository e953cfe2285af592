#include "core/document/State.h"

namespace velloran {

State& state() {
    static State instance;
    return instance;
}

void ResetState() {
    state() = State{};
}

}  // namespace velloran
