#include "capture/assemble.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"

#include <filesystem>

namespace kestrix::results {

CLI::App* setup_import(CLI::App& app, import_options& o) {
    auto* c = app.add_subcommand("import", "make records from saved kestrix console logs");
    c->add_option("--out", o.out_dir, "folder for the records (default ./kestrix-results)");
    c->add_option("--label", o.label, "a name for these records");
    c->add_option("LOG", o.logs, "saved console output of kestrix")->required();
    return c;
}

int import_command(const import_options& o) {
    namespace fs = std::filesystem;
    // Every log is read and checked before anything is written.
    std::vector<record> recs;
    for (const auto& path : o.logs) {
        const run_log log = read_log(read_whole_file(path));
        if (!log.recognized || !log.complete) {
            throw input_error(path + ": " + log.problem);
        }
        record r = make_record(log, {"import", o.label, std::nullopt, system_from_log(log)});
        r.imported_from = fs::path(path).filename().string();
        recs.push_back(std::move(r));
    }
    int code = 0;
    for (const auto& r : recs) {
        // Imports carry no time: the log's name keeps them apart.
        const std::string stem = fs::path(*r.imported_from).stem().string();
        const std::string path = write_record(o.out_dir, r, "import_" + stem + "_");
        say("record written to " + path);
        code = std::max(code, exit_for(r));
    }
    return code;
}

} // namespace kestrix::results
