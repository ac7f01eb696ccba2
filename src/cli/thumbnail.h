#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pictrove::cli {

// `thumbnail [-s SIZE] INPUT OUTPUT.png`, given the arguments after the verb.
// Returns the exit status: 0 with a picture written, 1 when the file has no
// icon to show or the picture cannot be written, 2 for a usage error.
// An OUTPUT that exists already is written into, as the same file.
int thumbnail(const std::vector<std::string>& args, const std::string& collectionExtension,
              std::ostream& err);

}  // namespace pictrove::cli
