#include "app/LayoutCheck.h"

#include <gtest/gtest.h>

namespace testutil {

RECT PlaceOf(const std::vector<rtl::TControlPlace>& places, int id) {
    for (const auto& p : places)
        if (p.Id == id) return p.Rect;
    ADD_FAILURE() << "no place for control " << id;
    return RECT{};
}

void ExpectInsideAndApart(const std::vector<rtl::TControlPlace>& places, SIZE client, const std::string& where) {
    for (size_t i = 0; i < places.size(); ++i) {
        const RECT& r = places[i].Rect;
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.cx && r.bottom <= client.cy && r.right > r.left &&
                    r.bottom > r.top)
            << "control " << places[i].Id << " outside the client area at " << where;
        for (size_t j = i + 1; j < places.size(); ++j) {
            RECT overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &r, &places[j].Rect))
                << "controls " << places[i].Id << " and " << places[j].Id << " overlap at " << where;
        }
    }
}

void ExpectWindowFollows(HWND form, const std::vector<rtl::TControlPlace>& places) {
    for (const auto& place : places) {
        RECT r{};
        HWND child = GetDlgItem(form, place.Id);
        ASSERT_TRUE(child) << "no control " << place.Id;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(EqualRect(&r, &place.Rect)) << "control " << place.Id;
    }
}

}  // namespace testutil
