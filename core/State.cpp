#include "State.h"

namespace velloran {

State& state() {
    static State instance;
    return instance;
}

void ResetState() {
    state() = State{};
}

void ForgetKeys(State& st) {
    Wipe(st.CipherKey);
    st.SealKeyInUse.reset();  // the last holder wipes it
}

}  // namespace velloran
