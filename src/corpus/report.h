// The report: one HTML page of the icon families in scan records, to look
// through in a browser without network.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace pictrove::corpus {

struct ReportSettings {
    int radius = 4;  // as the families take it
    std::size_t minSize = 2;
    bool allIcons = false;
    std::size_t jobs = 1;  // threads drawing the pictures; the page is the same whatever their number
    std::string collectionExtension = ".ics";  // for the files whose pictures are drawn
};

// Gathers record lines and writes the page of their families.
class ReportBuilder {
public:
    ReportBuilder();
    ~ReportBuilder();
    ReportBuilder(const ReportBuilder&) = delete;
    ReportBuilder& operator=(const ReportBuilder&) = delete;

    // Takes one record line, without its line end: false when it is no
    // scan record.
    bool addLine(std::string_view line);

    // Writes the page to `target`, whole or not at all. An error when the
    // records are more than an index holds or the page cannot be written.
    std::optional<Error> write(const std::filesystem::path& target, const ReportSettings& settings);

private:
    struct Data;
    std::unique_ptr<Data> data_;
};

// The page's shell around its data: what comes before the JSON of the
// families, and what after it.
extern const char* const kReportPageHead;
extern const char* const kReportPageTail;

}  // namespace pictrove::corpus
