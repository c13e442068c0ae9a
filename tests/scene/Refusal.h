#pragma once
/// The scene tests' way to catch a refusal.

#include <gtest/gtest.h>

#include "base/InputError.h"

/// The InputError that `change` throws, or a failure.
template <class Change>
host::InputError refusal(Change change) {
    try {
        change();
    } catch (const host::InputError& error) {
        return error;
    }
    ADD_FAILURE() << "no InputError";
    return host::InputError("", "", "", "(not refused)");
}
