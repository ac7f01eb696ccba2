#include "cli/corpus.h"

#include <algorithm>
#include <iostream>
#include <span>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/scan.h"
#include "engine/scan_record.h"
#include "fingerprint/dhash.h"
#include "path_text.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

using Json = nlohmann::ordered_json;

// The index of the records files named, built in memory.
Result<CorpusIndex> indexOfRecords(const Options& options, std::FILE* in, std::ostream& err, int& status) {
    IndexBuilder builder;
    status = addRecords(builder, options.files, in, err);
    if (status == 2) return Error{ErrorCode::readFailed, ""};
    auto image = builder.finish();
    if (!image) return image.error();
    return CorpusIndex::fromBytes(std::move(*image));
}

Json memberJson(const ClusterMember& member, bool distance) {
    Json json;
    putFileName(json, member.file);
    json["index"] = member.index;
    json["dhash"] = dhashText(member.dhash);
    json["group_sha256"] = member.groupSha256 ? Json(*member.groupSha256) : Json(nullptr);
    if (distance) json["distance"] = member.distance;
    return json;
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
    const bool sound = forEachCluster(*index, settings, [&](const Cluster& cluster) {
        const ClusterMember& center = cluster.members[cluster.representative];
        Json line = {{"cluster", cluster.number}, {"size", cluster.members.size()}, {"files", cluster.files}};
        line["representative"] = memberJson(center, false);
        auto& members = line["members"] = Json::array();
        for (const ClusterMember& member : cluster.members) members.push_back(memberJson(member, true));
        out << jsonLine(line);
    });
    out.flush();
    if (!sound) {
        err << "pictrove-cli: the index " << options.indexArgument.value_or("") << " is damaged\n";
        return 2;
    }
    return status;
}

}  // namespace pictrove::cli
