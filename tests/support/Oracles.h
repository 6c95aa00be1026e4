// What the outside tools say about an image or a document, read into plain
// values: blkid's probe of a volume, a JSON document queried by python, and
// the small text and file chores the tests around them share.
#ifndef KV_TEST_ORACLES_H
#define KV_TEST_ORACLES_H

#include <map>
#include <string>
#include <vector>

namespace kvtest {

// The lines of a text, without their line feeds.
std::vector<std::string> splitLines(const std::string& text);

// Copies a file, keeping it sparse.  False when cp fails.
bool copySparse(const std::string& from, const std::string& to);

// blkid's low-level probe of the volume at `sector` of an image (limited to
// `sectors` when not 0), as its KEY=value pairs: TYPE, LABEL, UUID, VERSION...
std::map<std::string, std::string> blkidProbe(const std::string& image, unsigned long long sector = 0,
                                              unsigned long long sectors = 0);

// Runs `python` with the JSON `document` parsed into `d`; what it prints,
// without the last line feed.
std::string onJson(const std::string& document, const std::string& python);

// The project's schema checker on a JSON document, against
// cli/schema/<schema>: its status (0 when the document fits) and, if asked
// for, its complaints.
int checkSchema(const std::string& schema, const std::string& document, std::string* complaints = nullptr);

}  // namespace kvtest

#endif
