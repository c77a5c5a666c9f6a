// Turns a StationXML channel's poles, zeros and sensitivity into the pole-zero text
// Zelvik stores: rad/s, counts per metre of displacement. The result is checked with
// Zelvik's own evaluator at the sensitivity frequency before anyone stores it.
#pragma once

#include <string>

namespace zelvik::tools {

struct StationXmlChannel;

struct DisplacementPaz {
    std::string text;      // "ZEROS n", zeros, "POLES m", poles, "CONSTANT c", one a line
    int added_zeros = 0;   // zeros put at the origin: 1 for velocity, 2 for acceleration
    double a0_stated = 0;  // product of the stages' A0, rad/s
    double a0_used = 0;    // the A0 in the text; differs when the stated one was off
    bool a0_recomputed = false;
    double frequency = 0;  // Hz, the sensitivity frequency the text was checked at
    double value = 0;      // counts per metre there, by Zelvik's evaluator
};

// Fills `out` from `ch`. Returns "" on success, else why the channel cannot be stored
// (no sensitivity, no analog pole-zero stage, input units other than M, M/S or
// M/S**2, too many poles or zeros, no usable response at the sensitivity frequency).
// When A0 misses the sensitivity by more than 1 %, A0 is recomputed so that the text
// gives the sensitivity times (2 pi f)^added_zeros there. Does not log.
std::string displacement_paz(const StationXmlChannel& ch, DisplacementPaz& out);

}  // namespace zelvik::tools
