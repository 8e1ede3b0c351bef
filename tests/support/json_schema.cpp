#include "support/json_schema.h"

#include "support/run_process.h"

namespace downloader::testing {

std::string SchemaErrors(const std::string& schema, const std::string& json, bool lines) {
  RunOptions options;
  options.args = {DOWNLOADER_SOURCE_DIR "/tests/support/validate_json.py",
                  DOWNLOADER_SOURCE_DIR "/docs/" + schema};
  if (lines) options.args.push_back("--lines");
  options.stdinData = json;
  options.timeout = std::chrono::seconds(60);
  // Debian's own Python: another one earlier on the PATH may lack python3-jsonschema.
  const RunResult run = RunProgram("/usr/bin/python3", options);
  if (run.exitCode == 0) return "";
  return run.out + run.err + (run.out.empty() && run.err.empty() ? "the validator failed" : "");
}

}  // namespace downloader::testing
