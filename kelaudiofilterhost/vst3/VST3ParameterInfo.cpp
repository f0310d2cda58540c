// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3ParameterInfo.h"

#include "kelaudiofilterhost/vst3/VST3FieldText.h"

#include <algorithm>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

KAFH_VST3_PLUGIN_CALL VST3ParameterInfo::VST3ParameterInfo(const VST3PluginGate& gate,
                                                           Vst::IEditController* controller, int32 index)
    : mGate(gate), mIndex(index)
{
    Vst::ParameterInfo info{};
    mGate.Call("IEditController::getParameterInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return controller->getParameterInfo(index, info);
    }, tresult{kInternalError});
    SetName(FieldText(info.title));
    SetLabel(FieldText(info.units));
    mID = info.id;
    mFlags = info.flags;
    mStepCount = std::max(info.stepCount, int32{0});
    SetExposed((mFlags & Vst::ParameterInfo::kCanAutomate) != 0);
    mGate.Call("IEditController::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return controller->queryInterface(Vst::IEditController::iid, reinterpret_cast<void**>(&mController));
    }, tresult{kNoInterface});
}

KAFH_VST3_PLUGIN_CALL VST3ParameterInfo::~VST3ParameterInfo()
{
    if (mController != nullptr) {
        mGate.Run("IEditController::release", [this]() KAFH_VST3_PLUGIN_CALL { mController->release(); });
    }
}

KAFH_VST3_PLUGIN_CALL float VST3ParameterInfo::PlainToNormalized(float plain)
{
    if (mController == nullptr) {
        return 0.0f;
    }
    return static_cast<float>(mGate.Call("IEditController::plainParamToNormalized", [&]() KAFH_VST3_PLUGIN_CALL {
        return mController->plainParamToNormalized(mID, plain);
    }, Vst::ParamValue{0.0}));
}

KAFH_VST3_PLUGIN_CALL float VST3ParameterInfo::NormalizedToPlain(float normalized)
{
    if (mController == nullptr) {
        return 0.0f;
    }
    return static_cast<float>(mGate.Call("IEditController::normalizedParamToPlain", [&]() KAFH_VST3_PLUGIN_CALL {
        return mController->normalizedParamToPlain(mID, normalized);
    }, Vst::ParamValue{0.0}));
}

bool VST3ParameterInfo::CanBeAutomated() const
{
    return (mFlags & Vst::ParameterInfo::kCanAutomate) != 0;
}

KAFH_VST3_PLUGIN_CALL UTF16String VST3ParameterInfo::GetStringForValue(float normalized)
{
    Vst::String128 text{};
    if (mController != nullptr) {
        mGate.Call("IEditController::getParamStringByValue", [&]() KAFH_VST3_PLUGIN_CALL {
            return mController->getParamStringByValue(mID, normalized, text);
        }, tresult{kInternalError});
    }
    return FieldText(text);
}

} // namespace kelaudiofilterhost::vst3
