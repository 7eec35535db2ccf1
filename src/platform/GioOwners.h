#pragma once

// Owners for what GIO and GLib hand out, so that every way out of a function lets go of it:
// a reference to a GObject (g_object_unref), a string (g_free), an error (g_error_free), a
// list of GAppInfo references (each unreferenced, then the list freed) and a list whose
// elements are borrowed (only the list freed). Include after the GIO headers (see AppsGio.cpp).

#include <gio/gio.h>

#include <memory>

namespace GioOwners {

struct ObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct Free {
    void operator()(gpointer p) const { g_free(p); }
};
using CharPtr = std::unique_ptr<char, Free>;

struct ErrorFree {
    void operator()(GError *error) const
    {
        if (error)
            g_error_free(error);
    }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct AppInfoListFree {
    void operator()(GList *list) const { g_list_free_full(list, g_object_unref); }
};
using AppInfoList = std::unique_ptr<GList, AppInfoListFree>;

struct ListFree {
    void operator()(GList *list) const { g_list_free(list); }
};
using BorrowingList = std::unique_ptr<GList, ListFree>;

} // namespace GioOwners
