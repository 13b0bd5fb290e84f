#pragma once

#include "scan/ScanSession.h"

namespace orv::test {

// A pump for work that is never stopped: there are no events to handle and no flag to change.
class NoPump final : public Pump
{
public:
    void step() override {}
};

} // namespace orv::test
