#include "core/hresult.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/registry.h"

namespace glintmark {
namespace {

// GLINTMARK_RETURN_IF_FAILED takes result codes only: a registry status or a
// bool handed to it would read as success whatever it said.
static_assert(isResultCode<HResult>);
static_assert(!isResultCode<reg::Status>);
static_assert(!isResultCode<bool>);
static_assert(!isResultCode<std::int64_t>);

HResult stepThen(HResult step, int* evaluations) {
  GLINTMARK_RETURN_IF_FAILED((++*evaluations, step));
  return hr::falseResult;
}

TEST(ReturnIfFailed, ReturnsAFailureUnchangedAndGoesOnAfterSuccess) {
  int evaluations = 0;
  EXPECT_EQ(stepThen(hr::dispException, &evaluations), hr::dispException);
  EXPECT_EQ(stepThen(hr::ok, &evaluations), hr::falseResult);
  EXPECT_EQ(stepThen(hr::falseResult, &evaluations), hr::falseResult);
  EXPECT_EQ(evaluations, 3);
}

}  // namespace
}  // namespace glintmark
