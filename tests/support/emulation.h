// Tests that the target's emulator cannot run.
//
// The target build runs every test under qemu-user. A case that needs what
// the emulator does not provide (ptrace, for one) skips itself there with
//
//     PC_SKIP_UNDER_EMULATOR("qemu-user has no ptrace");
//
// and nowhere else. The program's tests carry the CTest label
// "emulator-skips" (tests/CMakeLists.txt finds the macro in the source).
#pragma once

#include <gtest/gtest.h>

namespace pc::test {

// True when this program runs under the cross build's emulator.
bool under_emulator();

}  // namespace pc::test

#define PC_SKIP_UNDER_EMULATOR(reason) \
    if (pc::test::under_emulator()) GTEST_SKIP() << "not under the emulator: " << (reason)
