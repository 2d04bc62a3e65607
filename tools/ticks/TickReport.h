// The funnel's figures as a terminal table, as JSON, and as an SVG picture of two charts.
#pragma once

#include <cstdio>
#include <string>

#include "tools/ticks/TickFunnel.h"

// The report's names of the loader's states 0 to 7.
extern const char* const kStateNames[kStateCount];

// Writes the figures of every app version and, with more than one, of all together.
void PrintTable(std::FILE* out, const TickFunnel& funnel);
void PrintJson(std::FILE* out, const TickFunnel& funnel);
// The funnel of all runs and their time to each state, bars labelled with their figures.
// False with problem set when the file cannot be written.
bool WriteSvg(const std::string& path, const TickFunnel& funnel, std::string& problem);
