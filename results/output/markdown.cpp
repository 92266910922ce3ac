#include "output/exporters.hpp"
#include "output/timeline_export.hpp"

#include <algorithm>

namespace kestrix::results {
namespace {

std::string md_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '|') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::size_t max_sub_runs(const record_view& v) {
    std::size_t k = 0;
    for (const auto& p : v.points) {
        k = std::max(k, p.scores.size());
    }
    return k;
}

} // namespace

std::string markdown_show(const std::vector<record_view>& views) {
    std::string out;
    for (std::size_t r = 0; r < views.size(); ++r) {
        const auto& v = views[r];
        if (r) {
            out += "\n";
        }
        out += "### " + md_escape(v.name) + ": " + md_escape(v.title) + "\n\n";
        if (v.headline) {
            out += md_escape(*v.headline) + "\n\n";
        }
        const std::size_t k = max_sub_runs(v);
        out += "| " + md_escape(v.variable) + " |";
        for (std::size_t i = 1; i <= k; ++i) {
            out += " run " + std::to_string(i) + " |";
        }
        out += " median | mean | sd | cv | note |\n|---|";
        for (std::size_t i = 0; i < k + 5; ++i) {
            out += (i + 1 == k + 5) ? "---|" : "---:|";
        }
        out += "\n";
        for (const auto& p : v.points) {
            out += "| " + md_escape(p.point) + " |";
            for (std::size_t i = 0; i < k; ++i) {
                out += ' ';
                out += i < p.scores.size() ? cell(p.scores[i]) : std::string();
                out += " |";
            }
            out += ' ';
            out += cell(p.median) + " | " + cell(p.mean) + " | " + cell(p.sd) + " | " +
                   percent(p.cv_percent) + " | " + (p.noisy ? noisy_note() : "") + " |\n";
        }
    }
    return out;
}

std::string markdown_compare(const std::vector<record_view>& views) {
    const auto groups = compare_groups(views);
    std::string out;
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
        const auto& g = groups[gi];
        if (gi) {
            out += "\n";
        }
        out += "### " + md_escape(g.variable) + " sweep, against " + md_escape(g.records[0]->name) +
               "\n\n";
        for (std::size_t i = 0; i < g.records.size(); ++i) {
            out +=
                "- " + md_escape(g.records[i]->name) + ": " + md_escape(g.records[i]->title) + "\n";
        }
        const bool drift = group_has_drift(g), efficiency = group_has_efficiency(g);
        out += "\n| " + md_escape(g.variable) +
               " | record | scores | median | mean | sd | cv | ratio | beyond spread | note |" +
               (drift ? " drift |" : "") + (efficiency ? " MGups/W |" : "") +
               "\n|---|---|---|---:|---:|---:|---:|---:|---|---|" + (drift ? "---|" : "") +
               (efficiency ? "---|" : "") + "\n";
        for (const auto& row : g.rows) {
            const auto& p = *row.stats;
            out += "| " + md_escape(row.point) + " | " + md_escape(g.records[row.record]->name) +
                   " | " + scores_text(p, " ") + " | " + cell(p.median) + " | " + cell(p.mean) +
                   " | " + cell(p.sd) + " | " + percent(p.cv_percent) + " | " + cell(row.ratio, 3) +
                   " | " + (row.record == 0 ? std::string() : yes_no(row.exceeds)) + " | " +
                   (p.noisy ? noisy_note() : "") + " |" +
                   (drift ? " " + drifts_text(p, " ") + " |" : "") +
                   (efficiency ? " " + efficiencies_text(p, " ") + " |" : "") + "\n";
        }
    }
    return out;
}

} // namespace kestrix::results
