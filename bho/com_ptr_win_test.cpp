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

// A handle type whose deleter counts what it frees.
int g_freed = 0;
int g_lastFreed = 0;
struct CountingDeleter {
  void operator()(int handle) const noexcept {
    ++g_freed;
    g_lastFreed = handle;
  }
};
using CountedHandle = UniqueHandle<int, CountingDeleter>;

TEST(UniqueHandle, FreesEachHandleOnceAndNeverTheNullOne) {
  g_freed = 0;
  {
    CountedHandle held(1);
    held.reset(2);
    EXPECT_EQ(g_freed, 1) << "reset frees the old handle";
    EXPECT_EQ(g_lastFreed, 1);
    *held.put() = 3;
    EXPECT_EQ(g_freed, 2) << "put frees the old handle first";
    EXPECT_EQ(g_lastFreed, 2);
    EXPECT_EQ(held.release(), 3);
    EXPECT_EQ(g_freed, 2) << "release hands over without freeing";
    CountedHandle other(4);
    held = std::move(other);
    held = CountedHandle(5);
    EXPECT_EQ(g_freed, 3) << "a move frees the target's handle only";
    EXPECT_EQ(g_lastFreed, 4);
    CountedHandle empty;
    empty.reset();
  }
  EXPECT_EQ(g_freed, 4) << "destruction frees; the null handle never is";
  EXPECT_EQ(g_lastFreed, 5);
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
