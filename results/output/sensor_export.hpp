#pragma once
// The sensors in show and report: a summary line per sub-run, the series in the series export,
// and per record small multiples on one time axis (score, clock, temperature, power).
#include "analysis/views.hpp"
#include "model/record.hpp"
#include "output/markup.hpp"

#include <string>
#include <vector>

namespace kestrix::results {

// Why a sub-run has no sensor series.
std::string no_sensors_reason(const record& r);

// "- name run k (point): clock 2.41 GHz mean, 2.60 max (effective); temperature 71 °C max;
//  power 88.2 W mean, 1.63 kJ; 3.52 MGups/W; throttle 0 events; drift 0.998", one line per
// sub-run under one heading; empty without any record of a run.
std::string sensor_summary_lines(const std::vector<record>& records,
                                 const std::vector<record_view>& views);

// The series of one sub-run as CSV rows "series,t_s,value" after `head` ("record,k,point,").
std::string sensor_csv_rows(const sub_run& s, const std::string& head);

// Small multiples per record with sensors; records without are left to the score chart.
bool has_sensor_series(const record& r);
void sensor_charts(markup& body, const std::vector<record>& records,
                   const std::vector<record_view>& views);

} // namespace kestrix::results
