package download;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import java.util.zip.CRC32;

import korvotest.Checks;
import quarnel.frontend.Main;

/** korvo-fe against korvo-sim with its faults, over loopback TCP and a pseudo-terminal. */
public final class FrontEndTest {
    static final Checks c = new Checks("FrontEnd");
    static Path build;

    static final String BOOT_DEVICE = DownloadTest.device("B", "APP", "true", "SRECToBrekBinXML", "fw.s19", "");

    // korvo-fe's own cases: transport, simulator options, arguments (upper-case words: main()'s
    // files), exit status, output and summary contain (as in expect())
    // Rows with a sixth column are whole downloads with --json: at most that many seconds (less than
    // one answer time-out: no row may wait for an answer that does not come), and stored images.
    static final String JSON = "--json --reconnect-seconds 10 download CONFIG KEY";
    static final String[][] MORE = {
        {"tcp", "", JSON, "0", "\"result\": 0,|device 1: finished|device 2: finished|Updating device : Param", "20"},
        {"pty", "", JSON, "0", "\"result\": 0,|device 1: finished|device 2: finished", "20"},
        {"tcp", "--application;false", JSON, "0", "\"result\": 0,|\"secondCall\": true|application yes|device 2: finished", "30"},
        {"tcp", "--fail;7 at mFDprgdata 2", JSON, "4", "\"result\": -12,|device 1: aborted", "20"},
        {"tcp", "--hang-up-at;mFDprgdata 3", JSON, "4", "\"result\": -12,|device 1: aborted|closed the connection", "20"},
        {"tcp", "--access-level;4", JSON, "3", "\"result\": -4,|log: 0 lines", "20"},
        {"tcp", "", "download OTHER KEY", "5", "device 1 (App, APP): skipped: its constraints do not hold:"
            + " DeviceIdent is \"KORVO-SIM\", wanted = \"SCANNER.*\"|nothing was written|another device|application yes\nlog:"},
        {"tcp", "--fail;7 at mFDprgdata 2", "download CONFIG KEY", "4", "with its error 7 (sFA 7)|device 1 (App, APP): failed"},
        {"tcp", "", "download CONFIG MISSING", "1", "key file " + "%MISSING does not exist|0 telegrams"},
        {"tcp", "", "download CONFIG PLAIN", "1", "result -128|is not compressed: korvo compress"},
        {"tcp", "", "download BREKBIN KEY", "4", "holds BREKBIN data|TavisDevice false"},
        {"tcp", "", "--verify download CONFIG KEY", "0", "verify: identification before \"KORVO-SIM\", after \"KORVO-SIM\""},
        {"tcp", "--reboot-ms;60000", "--verify --reconnect-seconds 1 download CONFIG KEY", "6", "did not come back"},
        {"pty", "", "--verify download BOOT KEY", "0", "boot loader|verify: the device is back with its application"},
        {"tcp", "--access-level;4", "check CONFIG KEY", "3", "rights         GetAccessMode read \"level 4\", wanted level 3:"
            + " FAILED (deny)|--login 3:PASSWORD|log: 0 lines"},
        {"tcp", "", "--json check CONFIG KEY", "0", "\"wouldWrite\": [1, 2]|\"operation\": \"dry run\"|log: 0 lines"},
        {"tcp", "", "--json --skip 1 download CONFIG KEY", "0", "\"written\": [2]|\"reason\": \"skip\"|\"report\": {"},
        // One flipped bit in a payload: refused before the second loader, nothing stored
        // (before the first stage: after one, answers go to the first-stage downloader).
        {"tcp", "", "download DAMAGED_APP KEY", "4", "result -12|device 1 (App, APP): refused: damaged data:"
            + " check byte wrong at byte 2010 in the block at 00001000|summary: 3 telegrams|!device 1: finished"},
        {"tcp", "", "download DAMAGED_PARAM KEY", "4", "device 2 (Param, PARAM): refused: damaged data: CRC-32 wrong"
            + "|!device 1: finished|!device 2: finished"},
        {"tcp", "", "check DAMAGED_PARAM KEY", "4", "payload        device 1 read \"BREK\", wanted check bytes right: passed"
            + "|payload        device 2 read \"FILE\", wanted CRC-32 right: FAILED (CRC-32 wrong: the payload says"},
        {"tcp", "--application;false", "first-stage CONFIG", "0", "first stage: device 1: 4 parts, 2131 bytes"},
        {"tcp", "", "--log LOG download CONFIG KEY", "0", "@>>     sMN mFDprgdata 1 1 400 400 |@<<     sAN mFDprgdata 0"
            + "|@ ... (1051 bytes, CRC-32 |@<<     sAN mFDfindwnld 0|@debug  Checking constraint nr 1 for device nr 0"
            + "|@status 100% Download finished|@out    download: result 0 (success)|@report {\"operation\": \"download\""
            + "|@exit   0|!Checking constraint"},
        {"pty", "--fail;7 at mFDprgdata 2;--password 3;s3cret", "--log LOG --login 3:s3cret download CONFIG KEY", "4",
            "@--login 3:(password left out) download|@>>     sMN SetAccessMode 3 (password left out)|@<<     sFA 7"
            + "|@note   line serial:|@>>     sMN mFDabrtdwnld|@out    download: result -12|@exit   4|!@s3cret"},
        {"tcp", "", "-v check CONFIG KEY", "0", "Checking constraint nr 1 for device nr 0"},
    };

    static Path trace;

    public static void main(String[] args) throws Exception {
        build = Paths.get(System.getProperty("korvo.tool")).getParent();
        String config = DownloadTest.prepare("frontend-test-work", false), key = DownloadTest.key;
        trace = DownloadTest.work.resolve("trace.txt");
        String other = DownloadTest.constraint("SCANNER.*");
        Map<String, String> files = Map.of(
            "CONFIG", config, "KEY", key, "PLAIN", DownloadTest.work.resolve("keys.xml").toString(),
            "MISSING", DownloadTest.work.resolve("missing.key").toString(),
            "OTHER", DownloadTest.config("other", DownloadTest.SYSTEM, DownloadTest.APP.replace("<Log>", other + "<Log>"),
                                         DownloadTest.PARAM.replace("<Name>", other + "<Name>")),
            "BREKBIN", DownloadTest.config("brekbin", DownloadTest.SYSTEM, BOOT_DEVICE),
            "BOOT", DownloadTest.config("boot", DownloadTest.system("2.3", "false", "K"), BOOT_DEVICE),
            "LOG", trace.toString(),
            "DAMAGED_APP", DownloadTest.damaged(config, "damaged-app", 0, 2000, 3),
            "DAMAGED_PARAM", DownloadTest.damaged(config, "damaged-param", 1, 100, 0));
        for (String[] t : MORE) frontEnd(t, files);
        interrupt(config, key);

        // The launcher: help, a usage error, a connect that reaches no device, and finding the device
        // among the ports in DIR: answering, silent, failing, locked by this program, and a file.
        Simulator sim = new Simulator("--fail;1B at DeviceIdent");
        Path dir = DownloadTest.work.resolve("ports");
        Files.createDirectories(dir);
        Simulator answering = new Simulator(""), silent = new Simulator("--silent-from;1"),
            taken = new Simulator("--ident;TAKEN-SIM");
        Map<String, String> links = Map.of("device", answering.pty, "silent", silent.pty, "taken", taken.pty,
                                           "failing", sim.pty);
        for (Map.Entry<String, String> l : links.entrySet()) {
            Files.deleteIfExists(dir.resolve(l.getKey()));
            Files.createSymbolicLink(dir.resolve(l.getKey()), Paths.get(l.getValue()));
        }
        Files.writeString(dir.resolve("file"), "not a port");
        String[][] launches = {  // arguments, exit status, output contains (as in expect())
            {"--help", "0", "Exit status|korvo-fe devices --probe|--log trace.txt"},
            {"download", "2", "takes 2 argument"},
            {"--json --device tcp:127.0.0.1:" + sim.port + " connect", "4", "\"ident\": \"\""},
            {"--log LOG devices --probe --probe-ms 500 --ports DIR/*", "0", "DIR/device: KORVO-SIM\n    also /dev/pts/"
                + "|DIR/failing: answers with error 27 (sFA 1B)|DIR/file: unavailable (not a serial port)|DIR/silent: silent (no answer within 500 ms)"
                + "|DIR/taken: in use (locked by process|nothing was sent|--device serial:DIR/device|!TAKEN-SIM"
                + "|@>>     DIR/device: sRN DeviceIdent|@<<     DIR/device: sRA DeviceIdent 9 KORVO-SIM"
                + "|@>>     DIR/silent: sRN DeviceIdent|!@DIR/taken: sRN|@exit   0"},
            {"--json devices --ports DIR/s*", "0", "\"path\": \"DIR/silent\", \"aliases\": [\"" + silent.pty + "\"]|!DIR/device"},
            {"devices --probe --ports DIR/none*", "4", "devices: no serial port found at DIR/none*"},
            {"--log DIR/file/trace.txt devices --ports DIR/*", "1", "the trace DIR/file/trace.txt cannot be written"},
        };
        try (FileChannel line = FileChannel.open(Paths.get(taken.pty), StandardOpenOption.WRITE);
             FileLock lock = line.lock()) {
            c.check(lock.isValid(), "the taken port is locked");
            for (String[] t : launches) {
                Files.deleteIfExists(trace);
                List<String> command = new ArrayList<>(List.of(build.resolve("korvo-fe").toString()));
                for (String word : t[0].split(" ")) command.add(word.replace("DIR", dir.toString()).replace("LOG", trace.toString()));
                String out = c.run(Integer.parseInt(t[1]), command.toArray(new String[0]));
                expect("korvo-fe " + t[0], t[2].replace("DIR", dir.toString()), out);
            }
        }
        for (Simulator s : List.of(sim, answering, silent, taken)) s.stop();

        // A client that connects and says nothing does not shut out the next one.
        sim = new Simulator("");
        try (java.net.Socket idle = new java.net.Socket("127.0.0.1", sim.port)) {
            String out = c.run(0, build.resolve("korvo-fe").toString(), "--json", "--device",
                               "tcp:127.0.0.1:" + sim.port, "connect");
            c.check(idle.isConnected() && out.contains("\"ident\": \"KORVO-SIM\""),
                    "served beside an idle client: " + out);
        }
        sim.stop();
        c.noneLeft(Paths.get("."), "~.*");
        c.finish();
    }

    static void frontEnd(String[] t, Map<String, String> files) throws Exception {
        String what = t[0] + " " + t[1].replace(';', ' ') + " korvo-fe " + t[2];
        Files.deleteIfExists(trace);
        Simulator sim = new Simulator(t[1]);
        List<String> command = new ArrayList<>(List.of("--device", t[0].equals("tcp") ? "tcp:127.0.0.1:" + sim.port
                                                                                     : "serial:" + sim.pty));
        for (String word : t[2].split(" ")) command.add(files.getOrDefault(word, word));
        ByteArrayOutputStream out = new ByteArrayOutputStream(), err = new ByteArrayOutputStream();
        long start = System.nanoTime();
        int status = Main.run(command.toArray(new String[0]), new PrintStream(out, true, "UTF-8"),
                              new PrintStream(err, true, "UTF-8"), false);
        double seconds = (System.nanoTime() - start) / 1e9;
        String summary = sim.stop(), json = out.toString(StandardCharsets.UTF_8).trim(), seen = json + summary + err;
        c.equal(Integer.parseInt(t[3]), status, what + ": exit status; " + seen);
        c.check(!openHere(trace), what + ": the trace is closed with the session");
        expect(what, t[4].replace("%MISSING", files.get("MISSING")), seen);
        if (t[2].equals("first-stage CONFIG")) c.equal(appCrc(), imageCrc(summary, 1), what + ": the block stream as it came");
        if (t.length < 6) return;
        c.check(json.startsWith("{") && json.endsWith("}"), what + ": one JSON object: " + json);
        c.check(seconds < Double.parseDouble(t[5]), what + ": ended after " + seconds + " s");
        if (t[3].equals("0")) {
            c.equal(appCrc() + "|" + crc(Files.readAllBytes(DownloadTest.work.resolve("param.bin"))),
                    imageCrc(summary, 1) + "|" + imageCrc(summary, 2), what + ": stored images");
        }
    }

    // Ctrl-C through the launcher while a device stores slowly (the abort reaches it), and twice on
    // a silent device: the second one ends korvo-fe at once.
    static void interrupt(String config, String key) throws Exception {
        // simulator options, wait for, Ctrl-C count, exit status, output and summary contain, at most
        // seconds after the first Ctrl-C (far less than the 20 s a silent device could hold it)
        String[][] cases = {
            {"--storing-step;1", "Storing package 2 of 2", "1", "130",
             "aborted on the device|device 1 has its new data; device 2 was cut short|device 2: aborted"
             + "|@note   Ctrl-C: the download is stopped|@>>     sMN mFDabrtdwnld|@exit   130", "6"},
            {"--silent-from;mFDprgdata 3", "waiting for the device", "2", "130",
             "exiting at once|@note   Ctrl-C again: no more waiting for the device", "6"},
            // Without application the library itself sends no abort: korvo-fe does, and waits 3 s for it.
            {"--application;false;--silent-from;mFDprgdata 3", "waiting for the device", "1", "130",
             "did not answer the abort and the device was told to reboot|device 1 was cut short", "10"},
        };
        for (String[] t : cases) {
            Files.deleteIfExists(trace);
            Simulator sim = new Simulator(t[0]);
            Process fe = new ProcessBuilder(build.resolve("korvo-fe").toString(), "--device",
                "tcp:127.0.0.1:" + sim.port, "--log", trace.toString(), "download", config, key)
                .redirectErrorStream(true).start();
            StringBuffer out = new StringBuffer();
            Thread reader = readInto(fe, out);
            for (int i = 0; i < 200 && !out.toString().contains(t[1]) && fe.isAlive(); i++) Thread.sleep(50);
            long start = System.nanoTime();
            for (int i = 0; i < Integer.parseInt(t[2]); i++) {
                new ProcessBuilder("kill", "-INT", String.valueOf(fe.pid())).start().waitFor();
                Thread.sleep(200);
            }
            boolean ended = fe.waitFor(10, TimeUnit.SECONDS);
            double seconds = (System.nanoTime() - start) / 1e9;
            if (!ended) fe.destroyForcibly();
            reader.join(5000);
            String seen = out + sim.stop();
            c.check(ended && seconds < Double.parseDouble(t[5]), "Ctrl-C " + t[0] + ": ended after " + seconds + " s");
            c.equal(Integer.parseInt(t[3]), ended ? fe.exitValue() : -1, "Ctrl-C " + t[0] + ": exit status; " + seen);
            expect("Ctrl-C " + t[0], t[4], seen);
        }
    }

    // A thread, started, that gathers the process's output lines into `out`.
    static Thread readInto(Process p, StringBuffer out) {
        Thread reader = new Thread(() -> {
            try (BufferedReader lines = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8))) {
                for (String l; (l = lines.readLine()) != null;) out.append(l).append('\n');
            } catch (java.io.IOException e) {
                out.append(e);
            }
        });
        reader.start();
        return reader;
    }

    // Whether a descriptor of this JVM is open on `file` (also when it is deleted).
    static boolean openHere(Path file) throws Exception {
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            for (Path fd : fds.toList()) {
                try {
                    if (Files.readSymbolicLink(fd).toString().startsWith(file.toString())) return true;
                } catch (IOException e) {
                    // the listing's own descriptor, closed by now
                }
            }
        }
        return false;
    }

    // Each part of `expected` ("|" between) must be in `seen`, "@": in the trace, "!": absent.
    // A trace holds one event a line, each behind its time, after the session's "#" line.
    static void expect(String what, String expected, String seen) throws Exception {
        String log = Files.exists(trace) ? Files.readString(trace) : "";
        for (String line : log.isEmpty() ? new String[0] : log.split("\n")) {
            c.check(line.matches("(# korvo-fe session |\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\S+ +\\S).*"), what + ": a trace line " + line);
        }
        for (String part : expected.split("\\|")) {
            boolean absent = part.startsWith("!"), traced = part.startsWith(absent ? "!@" : "@");
            String text = part.substring((absent ? 1 : 0) + (traced ? 1 : 0)), where = traced ? log : seen;
            c.check(where.contains(text) != absent, what + ": \"" + text + "\" " + (absent ? "not " : "") + "in\n" + where);
        }
    }

    /** korvo-sim with a summary file; stop() ends it and returns the summary. */
    static final class Simulator {
        final Process process;
        final Path summary;
        int port;
        String pty;

        Simulator(String options) throws Exception {
            summary = Files.createTempFile(DownloadTest.work, "summary", ".txt");
            List<String> command = new ArrayList<>(List.of(build.resolve("korvo-sim").toString(),
                "--summary", summary.toString(), "--access-level", "3", "--reboot-ms", "100"));
            if (!options.isEmpty()) command.addAll(List.of(options.split(";")));
            process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
            BufferedReader lines = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
            for (int i = 0; i < 2; i++) {
                String line = lines.readLine();
                if (line == null) throw new IllegalStateException("korvo-sim did not start: " + command);
                if (line.startsWith("/")) pty = line;
                if (line.startsWith("tcp ")) port = Integer.parseInt(line.substring(line.lastIndexOf(':') + 1));
            }
        }

        String stop() throws Exception {
            process.destroy();  // SIGTERM: the summary is written at exit
            if (!process.waitFor(10, TimeUnit.SECONDS)) throw new IllegalStateException("korvo-sim did not stop");
            String text = Files.readString(summary);
            Files.delete(summary);
            return text;
        }
    }

    // The APP device's S-records: 2000 and 100 bytes.
    static String appCrc() {
        byte[] image = new byte[2100];
        for (int i = 0; i < image.length; i++) image[i] = (byte) (i < 2000 ? i : i - 2000);
        return crc(image);
    }

    static String crc(byte[] bytes) {
        CRC32 crc = new CRC32();
        crc.update(bytes);
        return String.format("%08X", crc.getValue());
    }

    static String imageCrc(String summary, int device) {
        Matcher m = Pattern.compile("device " + device + ": .*image \\d+ bytes CRC-32 (\\w+)").matcher(summary);
        return m.find() ? m.group(1) : "none";
    }
}
