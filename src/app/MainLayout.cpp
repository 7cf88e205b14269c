#include "app/MainLayout.h"

#include <algorithm>

#include "app/MainFormIds.h"

namespace app {

namespace {

struct TMetrics : rtl::TDesignScale {
    using TDesignScale::TDesignScale;
    int Margin() const { return S(10); }
    int Gap() const { return S(6); }
    int ButtonW() const { return S(110); }
    int ButtonH() const { return S(26); }
    int EditH() const { return S(23); }
    int LabelH() const { return S(17); }
    int CaptionW() const { return S(112); }  // labels in front of one-line fields
    int DescriptionH() const { return S(54); }
    int ProgressH() const { return S(16); }
    int StatusH() const { return 2 * LabelH(); }
    int MinListH() const { return 4 * ButtonH() + 3 * Gap(); }
    int MinAnswerH() const { return ButtonH() + S(30); }
    // Everything but the list and the answer, top to bottom.
    int FixedH() const {
        return Margin() + LabelH() + S(3) +                // files label
               Gap() + LabelH() + S(3) + DescriptionH() +  // description
               Gap() + EditH() +                           // contact
               Gap() + LabelH() +                          // what else is sent
               Gap() + ButtonH() +                         // endpoint and proxy
               Gap() + ProgressH() + S(4) + StatusH() +    // progress and status
               Gap() + LabelH() + S(3) +                   // answer label
               Gap() + ButtonH() + Margin();               // send and cancel
    }
};

RECT R(int x, int y, int w, int h) { return RECT{x, y, x + w, y + h}; }

}  // namespace

SIZE MainMinimumClientSize(int dpi) {
    TMetrics m(dpi);
    return SIZE{m.S(500), m.FixedH() + m.MinListH() + m.MinAnswerH()};
}

SIZE MainDefaultClientSize(int dpi) {
    TMetrics m(dpi);
    const SIZE min = MainMinimumClientSize(dpi);
    return SIZE{std::max<LONG>(min.cx, m.S(660)), std::max<LONG>(min.cy, m.S(600))};
}

std::vector<rtl::TControlPlace> ComputeMainLayout(int cw, int ch, int dpi) {
    const TMetrics m(dpi);
    const SIZE min = MainMinimumClientSize(dpi);
    cw = std::max<int>(cw, min.cx);
    ch = std::max<int>(ch, min.cy);
    const int M = m.Margin(), G = m.Gap(), bw = m.ButtonW(), bh = m.ButtonH();
    const int fullW = cw - 2 * M;
    const int rightX = cw - M - bw;
    const int leftW = rightX - G - M;  // list and answer, beside the button column

    // The list takes 55 % of what is left, the answer the rest.
    const int spare = ch - m.FixedH() - m.MinListH() - m.MinAnswerH();
    const int listH = m.MinListH() + spare * 55 / 100;
    const int answerH = m.MinAnswerH() + spare - spare * 55 / 100;

    std::vector<rtl::TControlPlace> p;
    int y = M;
    p.push_back({idFilesLabel, R(M, y, leftW, m.LabelH())});
    y += m.LabelH() + m.S(3);
    p.push_back({idFileList, R(M, y, leftW, listH)});
    p.push_back({idAddFiles, R(rightX, y, bw, bh)});
    p.push_back({idAddFolder, R(rightX, y + (bh + G), bw, bh)});
    p.push_back({idRemove, R(rightX, y + 2 * (bh + G), bw, bh)});
    p.push_back({idRefresh, R(rightX, y + 3 * (bh + G), bw, bh)});
    y += listH + G;

    p.push_back({idDescriptionLabel, R(M, y, fullW, m.LabelH())});
    y += m.LabelH() + m.S(3);
    p.push_back({idDescription, R(M, y, fullW, m.DescriptionH())});
    y += m.DescriptionH() + G;

    const int fieldX = M + m.CaptionW();
    const int labelDy = (m.EditH() - m.LabelH()) / 2 + m.S(1);
    p.push_back({idContactLabel, R(M, y + labelDy, m.CaptionW() - G, m.LabelH())});
    p.push_back({idContact, R(fieldX, y, cw - M - fieldX, m.EditH())});
    y += m.EditH() + G;
    p.push_back({idAddedFieldsLabel, R(M, y, m.CaptionW() - G, m.LabelH())});
    p.push_back({idAddedFields, R(fieldX, y, cw - M - fieldX, m.LabelH())});
    y += m.LabelH() + G;

    const int endpointDy = (bh - m.LabelH()) / 2 + m.S(1);
    p.push_back({idEndpointLabel, R(M, y + endpointDy, m.CaptionW() - G, m.LabelH())});
    p.push_back({idEndpoint, R(fieldX, y + endpointDy, rightX - G - fieldX, m.LabelH())});
    p.push_back({idProxy, R(rightX, y, bw, bh)});
    y += bh + G;

    p.push_back({idProgress, R(M, y, fullW, m.ProgressH())});
    y += m.ProgressH() + m.S(4);
    p.push_back({idStatus, R(M, y, fullW, m.StatusH())});
    y += m.StatusH() + G;

    p.push_back({idAnswerLabel, R(M, y, leftW, m.LabelH())});
    y += m.LabelH() + m.S(3);
    p.push_back({idAnswer, R(M, y, leftW, answerH)});
    p.push_back({idSaveAnswer, R(rightX, y, bw, bh)});
    y += answerH + G;

    p.push_back({idCancel, R(rightX, y, bw, bh)});
    p.push_back({idSend, R(rightX - G - bw, y, bw, bh)});
    return p;
}

}  // namespace app
