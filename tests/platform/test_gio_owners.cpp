// The GIO owners: each lets go of exactly what it owns, on every way out.
#include <gio/gio.h>

#include "platform/GioOwners.h"

#include <gtest/gtest.h>

using namespace GioOwners;

namespace {

// A plain GObject whose finalisation clears `*weak`.
GObject *watched(gpointer *weak)
{
    GObject *object = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
    *weak = object;
    g_object_add_weak_pointer(object, weak);
    return object;
}

} // namespace

TEST(GioOwners, AnObjectOwnerDropsItsReference)
{
    gpointer weak = nullptr;
    {
        const ObjectPtr<GObject> owner(watched(&weak));
        EXPECT_NE(weak, nullptr);
    }
    EXPECT_EQ(weak, nullptr) << "the last reference went with the owner";

    // Only its own reference: another holder keeps the object alive.
    GObject *kept = watched(&weak);
    g_object_ref(kept);
    {
        const ObjectPtr<GObject> owner(kept);
    }
    ASSERT_NE(weak, nullptr);
    g_object_unref(kept);
    EXPECT_EQ(weak, nullptr);

    const ObjectPtr<GObject> none(nullptr); // nothing to drop
    EXPECT_FALSE(none);
}

TEST(GioOwners, AnAppListDropsEveryElementAndABorrowingListNone)
{
    gpointer first = nullptr, second = nullptr;
    {
        GList *list = g_list_append(nullptr, watched(&first));
        list = g_list_append(list, watched(&second));
        const AppInfoList owner(list);
    }
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);

    gpointer borrowed = nullptr;
    GObject *object = watched(&borrowed);
    {
        const BorrowingList owner(g_list_append(nullptr, object));
    }
    ASSERT_NE(borrowed, nullptr) << "a borrowing list leaves its elements alone";
    g_object_unref(object);
    EXPECT_EQ(borrowed, nullptr);
}
