#include "app/Painting.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "plot/DistortionView.h"

#include <QPainter>

namespace app {

namespace {
PictureReplayer g_replayer;

// The three panels of view 11: target size and the origins of the time, amplitude and
// impedance pictures.
void panels(QPainter& p, const QRect& target, const QPoint origins[3])
{
    static constexpr int kinds[3] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(origins[i]);
        replayView(p, kinds[i], target);
        p.restore();
    }
}
} // namespace

void setPictureReplayer(PictureReplayer replayer)
{
    g_replayer = std::move(replayer);
}

void replayView(QPainter& p, int kind, const QRect& target)
{
    if (g_replayer && kind >= 0 && kind <= 9 && target.width() > 0 && target.height() > 0)
        g_replayer(p, kind, target);
}

void paintDiagram(QPainter& p, int view, const QRect& a)
{
    const int L = a.left();
    const int T = a.top();
    const int R = a.left() + a.width();
    const int B = a.top() + a.height();
    if (view >= 0 && view <= 9) {
        replayView(p, view, QRect(L, T, R - L, B - T));
    } else if (view == 11) {
        const QRect target(L, T, R * 48 / 100 - L, B * 48 / 100 - T);
        const QPoint origins[3] = {QPoint((R - L) / 100, (B - T) / 100),
                                   QPoint((R - L) * 51 / 100, (B - T) / 100),
                                   QPoint((R - L) / 100, (B - T) * 51 / 100)};
        panels(p, target, origins);
    }
}

void paintPage(QPainter& p, int kind, const QRect& page)
{
    const int W = page.width();
    const int H = page.height();
    if (kind >= 1 && kind <= 9) {
        replayView(p, kind, page);
    } else if (kind == 11) {
        const QRect target(0, 0, W * 44 / 100, H * 44 / 100);
        const QPoint origins[3] = {QPoint(W * 3 / 100, H * 3 / 100),
                                   QPoint(W * 53 / 100, H * 3 / 100),
                                   QPoint(W * 3 / 100, H * 53 / 100)};
        panels(p, target, origins);
    }
}

namespace {
double shownKhz(int rateCode)
{
    return rateCode == 2 ? 51.0 : rateCode == 3 ? 3.2 : 6.4;
}

// The trailer of the data a view draws: the time record, the newest response curve or the
// impedance; null for views whose data carry no rate and length (levels, waterfall, start).
bool shownTrailer(int view, float& n, float& rate)
{
    const core::MeasurementStore& st = core::store();
    switch (view) {
    case 1:
        n = st.timeRecord.trailerN();
        rate = st.timeRecord.trailerRate();
        return true;
    case 2:
    case 3:
    case 7:
    case 8:
    case 11:
        if (st.slotOccupied[0] != 1)
            return false;
        n = st.amplitudeSlots[0].trailerN();
        rate = st.amplitudeSlots[0].trailerRate();
        return true;
    case 4:
        n = st.impedanceMagnitude.trailerN();
        rate = st.impedanceMagnitude.trailerRate();
        return true;
    default:
        return false;
    }
}
} // namespace

std::string acquisitionSummary(int view)
{
    const core::MeasurementSettings& s = core::settings();
    const char* format = nullptr;
    switch (s.measuringInput) {
    case 1:
        format = "%s %3.2f kHz     %s %3i   IN:Line1(+-1,5V)";
        break;
    case 2:
        format = "%s %3.2f kHz     %s %3i   IN:Mic.(+-0,15V)";
        break;
    case 3:
        format = "%s %3.2f kHz     %s %3i   IN:Line2(+-1,5V)";
        break;
    case 4:
        format = "%s %3.2f kHz     %s %3i   IN:Ref_Int";
        break;
    default:
        return "";
    }
    const std::string settingsText =
        core::formatC(format, core::str(2), shownKhz(s.sampleRate), core::str(3), s.fftLength);
    // A loaded file or a procedure with its own conditions (T/S measures at 4096 points) shows
    // data the settings don't describe: then the data come first, and the settings apart.
    if (const core::DistortionRecord& d = core::store().distortion; view == 9 && !d.empty())
        return plot::sweepDescription(d) +
               core::formatC(", %.1f kHz     Einstellung: ", d.sweepRateHz / 1000.0) +
               settingsText;
    float n = 0.0f;
    float rate = 0.0f;
    if (!shownTrailer(view, n, rate) || !core::isValidTrailer(n, rate))
        return settingsText;
    const int dataN = core::safeTrailerN(n);
    const int dataRate = core::safeTrailerRate(rate);
    if (dataN == s.fftLength && dataRate == s.sampleRate)
        return settingsText;
    return core::formatC("Kurve: %3.2f kHz, N %i     Einstellung: ", shownKhz(dataRate), dataN) +
           settingsText;
}

} // namespace app
