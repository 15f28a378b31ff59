#pragma once

// Everything the library offers, in one include.

#include "vantle_exchange/diagnostic.hpp"
#include "vantle_exchange/error.hpp"
#include "vantle_exchange/host.hpp"
#include "vantle_exchange/instruction.hpp"
#include "vantle_exchange/log.hpp"
#include "vantle_exchange/phase_builder.hpp"
#include "vantle_exchange/plan.hpp"
#include "vantle_exchange/program_encoder.hpp"
#include "vantle_exchange/row_timing.hpp"
#include "vantle_exchange/tile_schedule.hpp"
#include "vantle_exchange/topology.hpp"
