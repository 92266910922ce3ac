#include "cli/any_records.hpp"

#include "model/storage.hpp"
#include "output/exporters.hpp"

namespace kestrix::results {

std::vector<loaded_record> load_any_records(const std::vector<std::string>& files) {
    std::vector<loaded_record> all;
    for (const auto& f : files) {
        all.push_back({f, load_any_record(f)});
    }
    return all;
}

records_by_kind by_kind(const std::vector<loaded_record>& all) {
    records_by_kind k;
    for (const auto& l : all) {
        if (l.rec.run) {
            k.runs.push_back(*l.rec.run);
            k.views.push_back(view_of(*l.rec.run, l.file));
        } else if (l.rec.stress) {
            // Named as a run record without a label is: its file name.
            k.stress.push_back({view_of(record{}, l.file).name, &*l.rec.stress});
        }
    }
    return k;
}

std::string show_any_text(const std::vector<loaded_record>& all, table_format f) {
    const records_by_kind k = by_kind(all);
    if (k.stress.empty()) {
        return show_text(k.views, f);
    }
    if (f == table_format::csv) {
        if (!k.views.empty()) {
            throw input_error("show --format csv: kestrix-stress records and kestrix records "
                              "have different columns; show them apart");
        }
        return stress_csv(k.stress);
    }
    // Both kinds in file order: runs through the usual tables, one at a time.
    std::size_t run = 0, stress = 0;
    if (f == table_format::json) {
        nlohmann::json out = nlohmann::json::array();
        const nlohmann::json runs = nlohmann::json::parse(show_text(k.views, f));
        for (const auto& l : all) {
            out.push_back(l.rec.run ? runs.at(run++) : stress_json(k.stress[stress++]));
        }
        return out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string out;
    for (const auto& l : all) {
        out += out.empty() ? "" : "\n";
        out += l.rec.run ? show_text({k.views[run++]}, f) : stress_markdown(k.stress[stress++]);
    }
    return out;
}

} // namespace kestrix::results
