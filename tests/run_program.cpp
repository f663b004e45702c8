#include "tests/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/test_support.h"

namespace {

std::vector<std::string> program_command(const char* variable, const char* built) {
    const char* other = std::getenv(variable);
    if (other == nullptr || *other == '\0') return {built};
    std::vector<std::string> words;
    std::istringstream split(other);
    for (std::string word; split >> word;) words.push_back(word);
    return words;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    if (runs_other_build()) {
        std::string lf;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
        }
        text = lf;
    }
    return text;
}

}  // namespace

bool runs_other_build() {
    const char* other = std::getenv("QUORVEX_COMMAND");
    return other != nullptr && *other != '\0';
}

namespace {

program_outcome run_program(std::vector<std::string> command, const std::filesystem::path& dir,
                            const std::vector<std::string>& args, const run_limits& limits) {
    scoped_temp_dir capture;
    const auto out_path = capture.path() / "stdout";
    const auto err_path = capture.path() / "stderr";
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 || chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        const auto apply = [](int resource, std::optional<rlim_t> value) {
            const rlimit limit{value.value_or(RLIM_INFINITY), value.value_or(RLIM_INFINITY)};
            if (value && setrlimit(resource, &limit) != 0) _exit(127);
        };
        apply(RLIMIT_FSIZE, limits.file_size);
        apply(RLIMIT_AS, limits.address_space);
        apply(RLIMIT_CORE, 0);  // a killed run leaves no core file in the folder
        if (!limits.killed) (void)signal(SIGXFSZ, SIG_IGN);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    program_outcome result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

}  // namespace

program_outcome run_quorvex(const std::filesystem::path& dir, const std::vector<std::string>& args,
                            const run_limits& limits) {
    return run_program(program_command("QUORVEX_COMMAND", QUORVEX_BINARY), dir, args, limits);
}

program_outcome run_quorvex_pack(const std::filesystem::path& dir, const std::vector<std::string>& args,
                                 const run_limits& limits) {
    return run_program(program_command("QUORVEX_PACK_COMMAND", QUORVEX_PACK_BINARY), dir, args, limits);
}
