#include "diagview/ViewerLayout.h"

#include <algorithm>

#include "diagview/DiagViewIds.h"

namespace diagview {

namespace {

struct TMetrics : rtl::TDesignScale {
    using TDesignScale::TDesignScale;
    int Margin() const { return S(8); }
    int Gap() const { return S(6); }
    int LabelGap() const { return S(2); }  // between a label and its box
    int LabelH() const { return S(16); }
    int ButtonH() const { return S(26); }
    int StatusH() const { return S(20); }
    int AnswerH() const { return S(84); }
    int FilesH() const { return S(52); }
    int DescriptionH() const { return S(48); }
    int ContactH() const { return S(22); }
    int ContactLabelW() const { return S(110); }
    int MinReportH() const { return S(160); }
    // Everything below the report, from the files label to the bottom margin.
    int FixedH() const {
        return Gap() + LabelH() + LabelGap() + FilesH() +         // files
               Gap() + LabelH() + LabelGap() + DescriptionH() +   // description
               Gap() + ContactH() +                               // contact
               S(8) + LabelH() + LabelGap() + AnswerH() +         // answer
               Gap() + StatusH() + Gap() + ButtonH() + Margin();  // status and buttons
    }
};

RECT R(int x, int y, int w, int h) { return RECT{x, y, x + w, y + h}; }

}  // namespace

SIZE ViewerMinimumClientSize(int dpi) {
    const TMetrics m(dpi);
    return SIZE{m.S(420), m.Margin() + m.MinReportH() + m.FixedH()};
}

SIZE ViewerDefaultClientSize(int dpi) {
    const TMetrics m(dpi);
    const SIZE min = ViewerMinimumClientSize(dpi);
    return SIZE{std::max<LONG>(min.cx, m.S(760)), std::max<LONG>(min.cy, m.S(720))};
}

std::vector<rtl::TControlPlace> ComputeViewerLayout(int cw, int ch, int dpi) {
    const TMetrics m(dpi);
    const SIZE min = ViewerMinimumClientSize(dpi);
    cw = std::max<int>(cw, min.cx);
    ch = std::max<int>(ch, min.cy);
    const int M = m.Margin(), G = m.Gap(), inner = cw - 2 * M;

    std::vector<rtl::TControlPlace> p;
    const int reportH = ch - M - m.FixedH();
    p.push_back({idReportText, R(M, M, inner, reportH)});
    int y = M + reportH + G;
    // A box under its label, full width.
    const auto labelled = [&](int labelId, int boxId, int boxH) {
        p.push_back({labelId, R(M, y, inner, m.LabelH())});
        y += m.LabelH() + m.LabelGap();
        p.push_back({boxId, R(M, y, inner, boxH)});
        y += boxH;
    };
    labelled(idFilesLabel, idFiles, m.FilesH());
    y += G;
    labelled(idDescriptionLabel, idDescription, m.DescriptionH());
    y += G;
    const int labelW = m.ContactLabelW();
    p.push_back({idContactLabel, R(M, y + m.S(3), labelW, m.LabelH())});
    p.push_back({idContact, R(M + labelW, y, inner - labelW, m.ContactH())});
    y += m.ContactH() + m.S(8);
    labelled(idAnswerLabel, idAnswer, m.AnswerH());
    y += G;
    p.push_back({idStatus, R(M, y, inner, m.StatusH())});
    y += m.StatusH() + G;

    // Send and Cancel at the left, Close at the right, never over Cancel.
    const int sendW = m.S(130), cancelW = m.S(90), closeW = m.S(90), buttonGap = m.S(8);
    p.push_back({idSend, R(M, y, sendW, m.ButtonH())});
    p.push_back({idCancel, R(M + sendW + buttonGap, y, cancelW, m.ButtonH())});
    const int closeX = std::max(cw - M - closeW, M + sendW + buttonGap + cancelW + buttonGap);
    p.push_back({idClose, R(closeX, y, closeW, m.ButtonH())});
    return p;
}

int ReportFontHeight(int dpi) { return rtl::TDesignScale(dpi).S(13); }

HFONT CreateReportFont(int dpi) {
    return CreateFontW(-ReportFontHeight(dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                       L"Courier New");
}

}  // namespace diagview
