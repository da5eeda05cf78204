#pragma once

#include <exception>

namespace murako {

// Runs one step of the controller's work on the window; a failing step is abandoned and the run goes on with
// the next one.
template <typename Step>
void SkipOnFailure(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

}  // namespace murako
