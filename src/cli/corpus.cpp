#include "cli/corpus.h"

#include <algorithm>
#include <iostream>
#include <span>
#include <thread>

#include "cli/commands.h"
#include "cli/scan.h"
#include "corpus/report.h"
#include "corpus/searches.h"
#include "engine/scan_record.h"
#include "path_text.h"
#include "save_file.h"

namespace pictrove::cli {
using namespace corpus;

namespace {

// The index of the records files named, built in memory.
Result<CorpusIndex> indexOfRecords(const Options& options, std::FILE* in, std::ostream& err, int& status) {
    IndexBuilder builder;
    status = addRecords(builder, options.files, in, err);
    if (status == 2) return Error{ErrorCode::readFailed, ""};
    auto image = builder.finish();
    if (!image) return image.error();
    return CorpusIndex::fromBytes(std::move(*image));
}

}  // namespace

int addRecords(IndexBuilder& builder, const std::vector<std::string>& names, std::FILE* in, std::ostream& err,
               const std::function<void(std::string_view)>& also) {
    int worst = 0;
    for (const std::string& name : names) {
        const int status = readRecordLines(
            name, in,
            [&](std::string_view line) {
                if (!builder.addLine(line)) return false;
                if (also) also(line);
                return true;
            },
            err);
        worst = std::max(worst, status);
        if (status == 2) break;
    }
    return worst;
}

int buildIndex(const Options& options, std::FILE* in, std::ostream& err) {
    IndexBuilder builder(!options.noGroups);
    const int status = addRecords(builder, options.files, in, err);
    if (status == 2) return 2;
    const auto image = builder.finish();
    if (!image) {
        err << "pictrove-cli: " << image.error().message << "\n";
        return 2;
    }
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(image->data()), image->size());
    if (const auto error = saveFile(*options.outputDir, bytes)) {
        err << "pictrove-cli: " << error->message << "\n";
        return 2;
    }
    return status;
}

int clusters(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err) {
    int status = 0;
    auto index = options.files.empty() ? CorpusIndex::open(pathFromUtf8(*options.indexArgument))
                                       : indexOfRecords(options, in, err, status);
    if (!index) {
        if (!index.error().message.empty()) err << "pictrove-cli: " << index.error().message << "\n";
        return 2;
    }
    ClusterSettings settings;
    settings.radius = options.radius;
    settings.minSize = options.minSize;
    settings.allIcons = options.allIcons;
    settings.jobs = options.jobs.value_or(std::max(1u, std::thread::hardware_concurrency()));
    const bool sound = forEachCluster(*index, settings,
                                      [&](const Cluster& cluster) { out << jsonLine(clusterJson(cluster)); });
    out.flush();
    if (!sound) {
        err << "pictrove-cli: the index " << options.indexArgument.value_or("") << " is damaged\n";
        return 2;
    }
    return status;
}

int report(const Options& options, std::FILE* in, std::ostream& err) {
    ReportBuilder page;
    int status = 0;
    for (const std::string& name : options.files) {
        status =
            std::max(status, readRecordLines(
                                 name, in, [&](std::string_view line) { return page.addLine(line); }, err));
        if (status == 2) return 2;
    }
    ReportSettings settings;
    settings.radius = options.radius;
    settings.minSize = options.minSize;
    settings.allIcons = options.allIcons;
    settings.jobs = threadsFor(options);
    settings.collectionExtension = options.collectionExtension;
    if (const auto error = page.write(*options.outputDir, settings)) {
        err << "pictrove-cli: " << error->message << "\n";
        return 2;
    }
    return status;
}

}  // namespace pictrove::cli
