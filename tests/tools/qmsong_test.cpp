// qmsong, run as a program on fixture images written by the song writer.
#include "player/song_writer.h"
#include "tests/player/fixture_songs.h"
#include "tools/sample_s16.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Qmsong : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qmsong_test_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write_image(const std::string &name, const std::vector<std::uint8_t> &bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    Outcome run(const std::string &args) { return run_shell(std::string(QMSONG_PATH) + " " + args); }
    Outcome run_shell(const std::string &command) {
        const fs::path out = dir / "stdout", err = dir / "stderr";
        const std::string cmd = command + " >" + out.string() + " 2>" + err.string() + " </dev/null";
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }
    fs::path dir;
};

struct Audio {
    SF_INFO info{};
    std::vector<float> samples; // normalised as libsndfile reads them
    std::vector<short> pcm;
};

Audio read_audio(const fs::path &p) {
    Audio a;
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &a.info);
    EXPECT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
    if (!f) return a;
    const auto n = static_cast<std::size_t>(a.info.frames * a.info.channels);
    if ((a.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        a.samples.resize(n);
        sf_readf_float(f, a.samples.data(), a.info.frames);
    } else {
        a.pcm.resize(n);
        sf_readf_short(f, a.pcm.data(), a.info.frames);
    }
    sf_close(f);
    return a;
}

// The fixture: default tempo, notes over two seconds.
SongDescription song() {
    SongDescription s = sounding_song();
    s.end_tick = 640;
    s.channels[0].programs = {{0, 0}};
    s.channels[0].notes = {{0, 60, 100},   {0, 67, 90},  {256, 60, 0},
                           {384, 72, 110}, {640, 72, 0}, {640, 67, 0}};
    return s;
}
// 640 ticks at 22050 samples per 128 ticks.
constexpr std::int64_t SONG_SAMPLES = 5 * 22050;

TEST_F(Qmsong, InfoPrintsHeaderStreamsSectionsAndLength) {
    SongDescription s = song();
    s.globals = {{0, 500000, 3, 4, 8}};
    s.speech_texts = {"hello"};
    const auto image = write_fixture(s);
    const Outcome r = run("info " + write_image("song.qms", image).string());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *line :
         {"ticks per beat: 128\n", "end tick: 640\n", "tick divisor: 1280000\n", "global events: 1\n",
          "tick 0: tempo 500000 us per beat (120.000 bpm), time signature 3/4, 8\n",
          "   0: 6 notes, 1 programs, 0 pitch bends, controllers 0 0 0 0 0 0 0\n", "   1: no notes\n",
          "1 texts\n", "bytes: \"hello\"\n", "sequencer calls: 4\n",
          "length: 110250 samples, 2.500 seconds\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    const std::string end = "end of image: offset " + std::to_string(image.size()) + "\n";
    EXPECT_NE(r.out.find(end), std::string::npos) << r.out;
}

TEST_F(Qmsong, RenderIsIndependentOfTheBlockSize) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    for (const char *format : {"f32", "s16"}) {
        const std::string base = "render " + image.string() + " --seed 7 --format " + std::string(format);
        const fs::path a = dir / "a.wav", b = dir / "b.wav";
        ASSERT_EQ(run(base + " --block 1024 -o " + a.string()).status, 0);
        ASSERT_EQ(run(base + " --block 37 -o " + b.string()).status, 0);
        const std::string x = slurp(a), y = slurp(b);
        ASSERT_GT(x.size(), 44u);
        EXPECT_TRUE(x == y) << format;
    }
}

TEST_F(Qmsong, DefaultLengthIsTheSongPlusFourSeconds) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    const fs::path out = dir / "out.wav";
    Outcome r = run("render " + image.string() + " -o " + out.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // no progress bar when standard error is not a terminal
    Audio a = read_audio(out);
    EXPECT_EQ(a.info.frames, SONG_SAMPLES + 4 * 44100);
    EXPECT_EQ(a.info.samplerate, 44100);
    EXPECT_EQ(a.info.channels, 2);
    EXPECT_EQ(a.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

    ASSERT_EQ(run("render " + image.string() + " --from 1000 -o " + out.string()).status, 0);
    EXPECT_EQ(read_audio(out).info.frames, SONG_SAMPLES - 44100 + 4 * 44100);
    ASSERT_EQ(run("render " + image.string() + " --from 60000 -o " + out.string()).status, 0);
    EXPECT_EQ(read_audio(out).info.frames, 4 * 44100);
    ASSERT_EQ(run("render " + image.string() + " --frames 1234 -o " + out.string()).status, 0);
    EXPECT_EQ(read_audio(out).info.frames, 1234);
    ASSERT_EQ(run("render " + image.string() + " --seconds 0.5 -o " + out.string()).status, 0);
    EXPECT_EQ(read_audio(out).info.frames, 22050);
}

TEST_F(Qmsong, SixteenBitAndFlacHoldTheDeviceConversionOfTheFloatSamples) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    const std::string base = "render " + image.string() + " --seed 3 --seconds 1.5";
    const fs::path f = dir / "f.wav", s = dir / "s.wav", c = dir / "c.flac";
    ASSERT_EQ(run(base + " --format f32 -o " + f.string()).status, 0);
    ASSERT_EQ(run(base + " -o " + s.string()).status, 0);
    ASSERT_EQ(run(base + " --format flac -o " + c.string()).status, 0);
    const Audio af = read_audio(f), as = read_audio(s), ac = read_audio(c);
    EXPECT_EQ(af.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(ac.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(af.samples.size(), 2u * 66150);
    ASSERT_EQ(as.pcm.size(), af.samples.size());
    ASSERT_EQ(ac.pcm, as.pcm);
    double energy = 0;
    for (std::size_t i = 0; i < af.samples.size(); ++i) {
        ASSERT_EQ(as.pcm[i], sample_to_s16(af.samples[i])) << "sample " << i;
        energy += std::fabs(af.samples[i]);
    }
    EXPECT_GT(energy, 0.0); // the fixture sounds, so the comparison means something
}

TEST_F(Qmsong, StandardOutputGetsTheSameFile) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    const fs::path file = dir / "file.wav";
    const std::string base = "render " + image.string() + " --seed 1 --frames 5000 -o ";
    ASSERT_EQ(run(base + file.string()).status, 0);
    const Outcome r = run(base + "-");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == slurp(file));
}

TEST_F(Qmsong, RejectedImageExitsWithTwoAndOneLine) {
    auto bytes = write_fixture(song());
    bytes.resize(bytes.size() - 3);
    const fs::path image = write_image("bad.qms", bytes);
    for (const std::string &cmd :
         {"info " + image.string(), "render " + image.string() + " -o " + (dir / "x.wav").string()}) {
        const Outcome r = run(cmd);
        EXPECT_EQ(r.status, 2) << cmd;
        EXPECT_NE(r.err.find("rejected song image"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
}

TEST_F(Qmsong, ExitStatusesForArgumentsAndFiles) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    const std::string out = (dir / "o.wav").string();
    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"", 2},
        {"play " + image.string(), 2},
        {"render " + image.string(), 2}, // no -o
        {"render " + image.string() + " -o " + out + " --format mp3", 2},
        {"render " + image.string() + " -o " + out + " --seconds 1 --frames 5", 2},
        {"render " + image.string() + " -o " + out + " --block 0", 2},
        {"render " + image.string() + " -o " + out + " --from -5", 2},
        {"render " + image.string() + " -o " + out + " --frames x", 2},
        {"info " + (dir / "missing.qms").string(), 1},
        {"info " + dir.string(), 1}, // a folder opens but cannot be read
        {"render " + dir.string() + " -o " + out, 1},
        {"render " + image.string() + " -o " + (dir / "no" / "such" / "dir.wav").string(), 1},
        {"render " + image.string() + " -o " + out + " --frames 10", 0},
    };
    for (const Case &c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
        }
    }
}

// Standard output that cannot take the text or the file: status 1 with a one-line reason.
TEST_F(Qmsong, FullStandardOutputIsAnOutputFailure) {
    const fs::path image = write_image("song.qms", write_fixture(song()));
    for (const std::string &args :
         {"info " + image.string(), "render " + image.string() + " --frames 64 -o -"}) {
        const Outcome r = run_shell("sh -c '" + std::string(QMSONG_PATH) + " " + args + " >/dev/full'");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("cannot write"), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << "\n" << r.err;
    }
}

TEST_F(Qmsong, HelpExitsWithZero) {
    for (const char *args : {"--help", "render --help"}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_NE(r.out.find("Usage"), std::string::npos) << r.out;
    }
    EXPECT_NE(run("render --help").out.find("--block"), std::string::npos);
}

TEST(SampleS16, DeviceConversion) {
    struct Case {
        float in;
        std::int16_t out;
    } cases[] = {
        {1.0f, 32600},    {-1.0f, -32600},   {0.5f, 16384},     {0.99f, 32440},      {0.0f, 0},
        {-0.0f, 0},       {0.5f / 32768, 0}, {1.5f / 32768, 2}, {-2.5f / 32768, -2}, {1e10f, 32600},
        {-1e10f, -32600}, {NAN, 0},          {INFINITY, 0},     {-INFINITY, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(sample_to_s16(c.in), c.out) << c.in;
}

// With standard error on a terminal (a pseudo-terminal from script(1)) the render shows its progress.
TEST_F(Qmsong, ProgressBarOnATerminal) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) not installed";
    const fs::path image = write_image("song.qms", write_fixture(song()));
    const std::string inner =
        std::string(QMSONG_PATH) + " render " + image.string() + " -o " + (dir / "p.wav").string();
    const Outcome r = run_shell("script -qec '" + inner + "' /dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("rendering ["), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("] 100%"), std::string::npos) << r.out;
}

} // namespace
