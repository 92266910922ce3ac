#include "output/exporters.hpp"

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
    std::string out =
        "variable,point,record,scores,n,median,mean,sd,cv_percent,noisy,ratio,exceeds_spread\n";
    for (const auto& g : compare_groups(views)) {
        for (const auto& row : g.rows) {
            const auto& p = *row.stats;
            out += csv_field(g.variable) + "," + csv_field(row.point) + "," +
                   csv_field(g.records[row.record]->name) + "," + scores_text(p, ";") + "," +
                   std::to_string(p.n) + "," + cell(p.median) + "," + cell(p.mean) + "," +
                   cell(p.sd) + "," + cell(p.cv_percent) + "," + (p.noisy ? "yes" : "no") + "," +
                   cell(row.ratio, 3) + "," + yes_no(row.exceeds) + "\n";
        }
    }
    return out;
}

} // namespace kestrix::results
