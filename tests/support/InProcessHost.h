#pragma once
/// A gtest fixture holding a stand-in host with the module linked into the test process.

#include <gtest/gtest.h>

#include "host/Host.h"
#include "module/InProcessModule.h"

namespace testing_support {

/// Each test gets a fresh host, its runtime handed to the module and the factories read.
class InProcessHost : public ::testing::Test {
protected:
    host::Host host{&SetIRTS, &GetObjectFactories};
};

}  // namespace testing_support
