#include "core/Startup.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"

namespace core
{

void chooseInitialXScales(int rateCode)
{
    int timeScale = 0;
    int frequencyScale = 11;
    if (rateCode == 2) {
        timeScale = 1;
        frequencyScale = 10;
    } else if (rateCode == 3) {
        timeScale = 76;
        frequencyScale = 78;
    }
    DisplaySettings& d = displaySettings();
    d.axisSets[0].x = timeScale;
    d.axisSets[1].x = frequencyScale;
    d.axisSets[2].x = frequencyScale;
}

void prepareRecordsForStart()
{
    MeasurementSettings& s = settings();
    chooseInitialXScales(s.sampleRate);
    takeSnapshot();
    MeasurementStore& st = store();
    st.slotOccupied.fill(0);
    st.overlayAxisIndex = -1;
    st.overlayReserved = {-1, -1};
    st.impedanceMagnitude.stamp(s.fftLength, s.sampleRate);
    st.impedancePhase.stamp(s.fftLength, s.sampleRate);
    for (int k = 0; k < 5; ++k) {
        st.amplitudeSlots[k].stamp(s.fftLength, s.sampleRate);
        st.phaseSlots[k].stamp(s.fftLength, s.sampleRate);
    }
    s.method = 1;
}

int rateCodeForBox(int rateCode, bool boxHasThreeKilohertz)
{
    return rateCode == 3 && !boxHasThreeKilohertz ? 2 : rateCode;
}

BoxRate rateForBox(int hardwareNumber, int rateCode)
{
    BoxRate r;
    r.threeKilohertzAllowed = hardwareNumber == kThreeKilohertzHardwareNumber;
    r.rateCode = rateCodeForBox(rateCode, r.threeKilohertzAllowed);
    r.rateChanged = r.rateCode != rateCode;
    return r;
}

} // namespace core
