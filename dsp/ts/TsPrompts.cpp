#include "dsp/ts/TsPrompts.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <string>

namespace ts
{

namespace
{

// Refusals of the DC-resistance prompt after which the procedure goes on with the proposal;
// an interactive dialog checks the value itself, so only a script that keeps giving an
// unacceptable value ever gets here.
constexpr int kMaxDcRefusals = 20;

} // namespace

void showResonanceNotice(const ResonanceResult& result, bool firstRun)
{
    const double ohm = result.resonanceOhm;
    const double hz = result.resonanceHz;
    const std::string notice =
        firstRun ? core::formatC("%s  Z=%3.1f Ohm  fs:%5.1f Hz", core::str(23), ohm, hz)
                 : core::formatC("%s Z=%3.1f Ohm  fs:%5.1f Hz", core::str(24), ohm, hz);
    core::messageText(notice, " ", core::Icon::Information);
}

bool dcResistanceInRange(float ohm)
{
    return ohm >= 0.5f && ohm < 100.0f;
}

bool acceptDcResistance(float ohm)
{
    if (dcResistanceInRange(ohm))
        return true;
    core::message(112, 71, core::Icon::Information);
    return false;
}

float dcResistanceProposal(const ResonanceResult& freeAir)
{
    const std::string text = core::formatC("%3.1f", freeAir.fit.model.reOhm);
    return static_cast<float>(core::parseLeadingNumber(text.c_str()));
}

float confirmDcResistance(float proposalOhm)
{
    // Cancelling the prompt keeps the proposal.
    for (int refusals = 0; refusals < kMaxDcRefusals; ++refusals) {
        float entered = proposalOhm;
        if (!core::ui().askDcResistance(proposalOhm, entered))
            break;
        if (acceptDcResistance(entered))
            return entered;
    }
    return proposalOhm;
}

} // namespace ts
