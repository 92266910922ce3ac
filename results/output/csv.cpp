#include "output/exporters.hpp"
#include "output/timeline_export.hpp"

#include <algorithm>

namespace kestrix::results {

std::string csv_show(const std::vector<record_view>& views) {
    std::string out = "record,variable,point,scores,n,median,mean,sd,cv_percent,noisy\n";
    for (const auto& v : views) {
        for (const auto& p : v.points) {
            out += csv_field(v.name) + "," + csv_field(v.variable) + "," + csv_field(p.point) +
                   "," + scores_text(p, ";") + "," + std::to_string(p.n) + "," + cell(p.median) +
                   "," + cell(p.mean) + "," + cell(p.sd) + "," + cell(p.cv_percent) + "," +
                   (p.noisy ? "yes" : "no") + "\n";
        }
    }
    return out;
}

std::string csv_compare(const std::vector<record_view>& views) {
    const auto groups = compare_groups(views);
    const bool drift = std::any_of(groups.begin(), groups.end(), group_has_drift);
    const bool efficiency = std::any_of(groups.begin(), groups.end(), group_has_efficiency);
    std::string out = "variable,point,record,scores,n,median,mean,sd,cv_percent,noisy,ratio,"
                      "exceeds_spread";
    out += drift ? ",drift" : "";
    out += efficiency ? ",mgups_per_w\n" : "\n";
    for (const auto& g : groups) {
        for (const auto& row : g.rows) {
            const auto& p = *row.stats;
            out += csv_field(g.variable) + "," + csv_field(row.point) + "," +
                   csv_field(g.records[row.record]->name) + "," + scores_text(p, ";") + "," +
                   std::to_string(p.n) + "," + cell(p.median) + "," + cell(p.mean) + "," +
                   cell(p.sd) + "," + cell(p.cv_percent) + "," + (p.noisy ? "yes" : "no") + "," +
                   cell(row.ratio, 3) + "," + yes_no(row.exceeds);
            if (drift) {
                out += ',';
                out += drifts_text(p, ";");
            }
            if (efficiency) {
                out += ',';
                out += efficiencies_text(p, ";");
            }
            out += '\n';
        }
    }
    return out;
}

} // namespace kestrix::results
