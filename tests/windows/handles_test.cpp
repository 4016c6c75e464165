#include <gtest/gtest.h>

#include <utility>

#include "app/handles.h"
#include "app/memory_dc.h"

namespace vantrel {
namespace handles_test {
namespace {

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

bool IsGdiObject(HGDIOBJ object) { return GetObjectType(object) != 0; }

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(UniqueHandleTest, ClosesOnceAndIsSafeToDestroyAgain) {
    HANDLE event = NewEvent();
    {
        UniqueHandle owner(event);
        EXPECT_TRUE(owner);
        owner.Destroy();
        EXPECT_FALSE(IsOpen(event));
        EXPECT_FALSE(owner);
        owner.Destroy();
    }  // and once more by the destructor
    EXPECT_FALSE(IsOpen(event));
}

TEST(UniqueHandleTest, AttachClosesThePreviousHandleAndDetachGivesItUp) {
    HANDLE first = NewEvent();
    HANDLE second = NewEvent();
    UniqueHandle owner(first);
    owner.Attach(first);  // the same handle again: still open
    EXPECT_TRUE(IsOpen(first));
    owner.Attach(second);
    EXPECT_FALSE(IsOpen(first));

    EXPECT_EQ(owner.Detach(), second);
    EXPECT_FALSE(owner);
    owner.Destroy();
    EXPECT_TRUE(IsOpen(second));
    CloseHandle(second);
}

TEST(UniqueHandleTest, MoveHandsOwnershipOver) {
    HANDLE event = NewEvent();
    UniqueHandle from(event);
    UniqueHandle to(std::move(from));
    EXPECT_FALSE(from);
    EXPECT_EQ(to.Get(), event);
    from.Destroy();
    EXPECT_TRUE(IsOpen(event));

    UniqueHandle other(NewEvent());
    HANDLE replaced = other.Get();
    other = std::move(to);
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_EQ(other.Get(), event);
}

TEST(UniqueHandleTest, InvalidHandleValueCountsAsEmpty) {
    UniqueHandle owner(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(owner);
}

TEST(BitmapHandleTest, DeletesTheBitmapOnce) {
    HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
    ASSERT_TRUE(IsGdiObject(bitmap));
    BitmapHandle owner(bitmap);
    owner.Destroy();
    EXPECT_FALSE(IsGdiObject(bitmap));
    owner.Destroy();

    HBITMAP kept = CreateBitmap(4, 4, 1, 32, nullptr);
    {
        BitmapHandle detached(kept);
        detached.Detach();
    }
    EXPECT_TRUE(IsGdiObject(kept));
    DeleteObject(kept);
}

TEST(MemoryDcTest, PutsTheOriginalBitmapBackBeforeDeletingTheContext) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    HDC hDc = nullptr;
    HGDIOBJ original = nullptr;
    {
        MemoryDc dc(screen);
        ASSERT_TRUE(dc);
        hDc = dc.Get();
        original = GetCurrentObject(hDc, OBJ_BITMAP);
        EXPECT_TRUE(dc.SelectBitmap(bitmap));
        EXPECT_EQ(GetCurrentObject(hDc, OBJ_BITMAP), bitmap);
        HBITMAP other = CreateCompatibleBitmap(screen, 2, 2);
        EXPECT_TRUE(dc.SelectBitmap(other));  // the original is still the one to restore
        dc.Destroy();
        EXPECT_EQ(GetObjectType(hDc), 0u);
        DeleteObject(other);
        dc.Destroy();
    }
    // The bitmap is free: it can be selected elsewhere and deleted.
    HDC another = CreateCompatibleDC(screen);
    EXPECT_NE(SelectObject(another, bitmap), nullptr);
    SelectObject(another, original);
    DeleteDC(another);
    EXPECT_TRUE(DeleteObject(bitmap));
    ReleaseDC(nullptr, screen);
}

TEST(MemoryDcTest, RefusesANonBitmap) {
    HDC screen = GetDC(nullptr);
    MemoryDc dc(screen);
    EXPECT_FALSE(dc.SelectBitmap(nullptr));
    ReleaseDC(nullptr, screen);
}

}  // namespace
}  // namespace handles_test
}  // namespace vantrel
