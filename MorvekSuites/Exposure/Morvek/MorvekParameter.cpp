// Morvek::Parameter: one read/write skeleton over the host's stream suite,
// shared by the four value types through the member of the host's value
// record that each type maps to.
#include "MorvekParameter.h"

#include "AEGP_SuiteHandler.h"

namespace Morvek {

namespace {

// The member of the host's value union that a library type is exchanged
// through: `get` copies it out, `put` overwrites it and nothing else.
template <typename T> struct StreamMember;

template <> struct StreamMember<double> {
    static void get(const AEGP_StreamVal2& v, double& out) { out = v.one_d; }
    static void put(const double& in, AEGP_StreamVal2& v) { v.one_d = in; }
};

template <> struct StreamMember<Vector<double>> {
    static void get(const AEGP_StreamVal2& v, Vector<double>& out) {
        out.x = v.two_d.x;
        out.y = v.two_d.y;
    }
    static void put(const Vector<double>& in, AEGP_StreamVal2& v) {
        v.two_d.x = in.x;
        v.two_d.y = in.y;
    }
};

template <> struct StreamMember<Vector3d<double>> {
    static void get(const AEGP_StreamVal2& v, Vector3d<double>& out) {
        out.x = v.three_d.x;
        out.y = v.three_d.y;
        out.z = v.three_d.z;
    }
    static void put(const Vector3d<double>& in, AEGP_StreamVal2& v) {
        v.three_d.x = in.x;
        v.three_d.y = in.y;
        v.three_d.z = in.z;
    }
};

// The host keeps colour channels as doubles: narrowed to the nearest float on
// reading, widened exactly on writing.
template <> struct StreamMember<ColorFloat<float>> {
    static void get(const AEGP_StreamVal2& v, ColorFloat<float>& out) {
        out.alpha = static_cast<float>(v.color.alphaF);
        out.red = static_cast<float>(v.color.redF);
        out.green = static_cast<float>(v.color.greenF);
        out.blue = static_cast<float>(v.color.blueF);
    }
    static void put(const ColorFloat<float>& in, AEGP_StreamVal2& v) {
        v.color.alphaF = static_cast<double>(in.alpha);
        v.color.redF = static_cast<double>(in.red);
        v.color.greenF = static_cast<double>(in.green);
        v.color.blueF = static_cast<double>(in.blue);
    }
};

// A stream reference, given back to the host when the scope ends.
class StreamGuard {
public:
    explicit StreamGuard(AEGP_StreamSuite9* suite) : suite_(suite) {}
    ~StreamGuard() {
        if (ref != nullptr) {
            suite_->AEGP_DisposeStream(ref);
        }
    }
    StreamGuard(const StreamGuard&) = delete;
    StreamGuard& operator=(const StreamGuard&) = delete;

    AEGP_StreamRefH ref = nullptr;

private:
    AEGP_StreamSuite9* suite_;
};

// A value record; once the host has filled it (`live`), given back when the
// scope ends.
class ValueGuard {
public:
    explicit ValueGuard(AEGP_StreamSuite9* suite) : suite_(suite) {}
    ~ValueGuard() {
        if (live) {
            suite_->AEGP_DisposeStreamValue(&record);
        }
    }
    ValueGuard(const ValueGuard&) = delete;
    ValueGuard& operator=(const ValueGuard&) = delete;

    AEGP_StreamValue2 record{};
    bool live = false;

private:
    AEGP_StreamSuite9* suite_;
};

} // namespace

class Parameter::Impl {
public:
    // A null input record has no broker: the suite handler throws.
    Impl(int pluginId_, PF_InData* inData_)
        : pluginId(pluginId_), inData(inData_), suites(inData_ != nullptr ? inData_->pica_basicP : nullptr) {}

    // Runs from the last copy, or from a constructor that threw after the
    // Impl was made. Nothing may leave it: a destructor that throws ends the
    // host's process.
    ~Impl() {
        if (effect == nullptr) {
            return;
        }
        try {
            suites.EffectSuite2()->AEGP_DisposeEffect(effect);
        } catch (...) {
            // The suite was acquired before the reference was taken, so this
            // is not reached in practice; if it were, the reference could not
            // be given back by any other means.
        }
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void _initialize() {
        // Taking the effect suite first means a reference is only ever taken
        // when it can also be given back.
        suites.EffectSuite2();
        error = suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(pluginId, inData->effect_ref, &effect);
        if (error == PF_Err_NONE && effect == nullptr) {
            error = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }

    template <typename T> void getParameter(T& value, int index, const A_Time& time) {
        _withValue(index, time, [&](AEGP_StreamSuite9*, AEGP_StreamRefH, AEGP_StreamValue2& record) {
            StreamMember<T>::get(record.val, value);
        });
    }

    // The record goes back whole, as the host returned it at `time`, with
    // only the type's own member replaced.
    template <typename T> void setParameter(const T& value, int index, const A_Time& time) {
        _withValue(index, time, [&](AEGP_StreamSuite9* streams, AEGP_StreamRefH stream, AEGP_StreamValue2& record) {
            StreamMember<T>::put(value, record.val);
            error = streams->AEGP_SetStreamValue(pluginId, stream, &record);
        });
    }

    A_Err error = PF_Err_NONE;
    AEGP_PluginID pluginId;
    PF_InData* inData;
    AEGP_EffectRefH effect = nullptr;
    AEGP_SuiteHandler suites;

private:
    // Obtains stream `index` and its value at `time` (layer time, after
    // expressions), recording each host result, and hands them to `use`.
    // The stream and the value are given back on every path.
    template <typename Use> void _withValue(int index, const A_Time& time, Use&& use) {
        if (error != PF_Err_NONE) {
            return;
        }
        AEGP_StreamSuite9* streams = suites.StreamSuite9();
        StreamGuard stream(streams);
        error = streams->AEGP_GetNewEffectStreamByIndex(pluginId, effect, index, &stream.ref);
        if (error != PF_Err_NONE) {
            return;
        }
        if (stream.ref == nullptr) {
            error = PF_Err_INTERNAL_STRUCT_DAMAGED;
            return;
        }
        ValueGuard value(streams);
        error = streams->AEGP_GetNewStreamValue(pluginId, stream.ref, AEGP_LTimeMode_LayerTime, &time,
                                                static_cast<A_Boolean>(false), &value.record);
        if (error != PF_Err_NONE) {
            return;
        }
        value.live = true;
        use(streams, stream.ref, value.record);
    }
};

// If _initialize throws, `impl` is destroyed with the constructor, and the
// Impl gives back whatever it had obtained.
Parameter::Parameter(int pluginId, PF_InData* inData) : impl(std::make_shared<Impl>(pluginId, inData)) {
    impl->_initialize();
}

void Parameter::getParameter(double& value, int index, A_Time time) {
    impl->getParameter(value, index, time);
}

void Parameter::getParameter(Vector<double>& value, int index, A_Time time) {
    impl->getParameter(value, index, time);
}

void Parameter::getParameter(Vector3d<double>& value, int index, A_Time time) {
    impl->getParameter(value, index, time);
}

void Parameter::getParameter(ColorFloat<float>& value, int index, A_Time time) {
    impl->getParameter(value, index, time);
}

void Parameter::setParameter(const double& value, int index, A_Time time) {
    impl->setParameter(value, index, time);
}

void Parameter::setParameter(const Vector<double>& value, int index, A_Time time) {
    impl->setParameter(value, index, time);
}

void Parameter::setParameter(const Vector3d<double>& value, int index, A_Time time) {
    impl->setParameter(value, index, time);
}

void Parameter::setParameter(const ColorFloat<float>& value, int index, A_Time time) {
    impl->setParameter(value, index, time);
}

int Parameter::getError() const {
    return impl->error;
}

} // namespace Morvek
