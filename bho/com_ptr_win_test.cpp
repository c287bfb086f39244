#include "bho/com_ptr.h"

#include <gtest/gtest.h>

#include <exdisp.h>

#include "bho/testing/browser_doubles.h"

namespace glintmark::bho {
namespace {

using testing::PlainObject;
using testing::makeDouble;

TEST(ComPtr, CopiesCountAndMovesDoNot) {
  auto object = makeDouble<PlainObject>();
  {
    ComPtr<PlainObject> copy = object;
    EXPECT_EQ(object->refCount(), 2);
    ComPtr<PlainObject> moved = std::move(copy);
    EXPECT_EQ(object->refCount(), 2);
    EXPECT_FALSE(copy);
    ComPtr<PlainObject> assigned;
    assigned = moved;
    EXPECT_EQ(object->refCount(), 3);
    assigned = assigned;  // self-assignment keeps the reference
    EXPECT_EQ(object->refCount(), 3);
  }
  EXPECT_EQ(object->refCount(), 1);
}

TEST(ComPtr, PutReleasesTheOldPointerFirst) {
  auto first = makeDouble<PlainObject>();
  ComPtr<IDispatch> holder(first.get());
  EXPECT_EQ(first->refCount(), 2);
  IDispatch** slot = holder.put();
  EXPECT_EQ(first->refCount(), 1);
  EXPECT_EQ(*slot, nullptr);
}

TEST(ComPtr, QueryAndCopyTo) {
  auto object = makeDouble<PlainObject>();
  ComPtr<IUnknown> unknown(static_cast<IDispatch*>(object.get()));
  EXPECT_TRUE(unknown.query<IDispatch>());
  EXPECT_FALSE(unknown.query<IWebBrowser2>());
  EXPECT_FALSE(ComPtr<IUnknown>().query<IDispatch>());
  IUnknown* out = nullptr;
  EXPECT_EQ(unknown.copyTo(&out), S_OK);
  EXPECT_EQ(object->refCount(), 3);
  out->Release();
  EXPECT_EQ(unknown.copyTo(nullptr), E_POINTER);
  IUnknown* detached = unknown.detach();
  EXPECT_EQ(object->refCount(), 2);
  unknown.attach(detached);
  EXPECT_EQ(object->refCount(), 2);
}

TEST(UniqueHandle, FreesOnResetAndHandsOverOnRelease) {
  UniqueBstr text(SysAllocString(L"abc"));
  EXPECT_TRUE(text);
  EXPECT_EQ(SysStringLen(text.get()), 3u);
  BSTR raw = text.release();
  EXPECT_FALSE(text);
  UniqueBstr other;
  *other.put() = raw;
  UniqueBstr moved = std::move(other);
  EXPECT_FALSE(other);
  EXPECT_EQ(moved.get(), raw);
  moved.reset();
  EXPECT_FALSE(moved);
}

}  // namespace
}  // namespace glintmark::bho
