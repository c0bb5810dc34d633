package download;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

import korvotest.Checks;
import quarnel.frontend.HistoryRecord;
import quarnel.frontend.Main;

/**
 * korvo-fe line against several korvo-sim at once: one failing never stops the others; summary,
 * logs and history records per device, the terminal table, and Ctrl-C aborting every download.
 */
public final class StationTest {
    static final Checks c = new Checks("Station");
    static String config, key, history;

    public static void main(String[] args) throws Exception {
        FrontEndTest.build = Paths.get(System.getProperty("korvo.tool")).getParent();
        config = DownloadTest.prepare("station-test-work", true);
        key = DownloadTest.key;
        history = DownloadTest.work.resolve("station.sqlite").toString();
        lines();
        interrupt();
        usage();
        Object[] whole = fe(false, "--history", history, "history", "verify");
        c.check(whole[0].equals(0) && whole[1].toString().contains("9 records"), "the station's history: " + whole[1]);
        c.finish();
    }

    /** korvo-fe's exit status, then what it printed (standard output and errors). */
    static Object[] fe(boolean terminal, String... args) throws Exception {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        PrintStream print = new PrintStream(out, true, "UTF-8");
        int status = Main.run(args, print, print, terminal);
        return new Object[] {status, out.toString(StandardCharsets.UTF_8)};
    }

    static void lines() throws Exception {
        Path list = DownloadTest.work.resolve("devices.txt");
        String[][] cases = {  // simulators ("|" between), korvo-fe options, terminal,
                              // exit status, output contains, each device's result in the history
            {"--password 3;secret|--password 3;secret|--password 3;secret;--fail;7 at mFDprgdata 1",
             "--login 3:secret --skip 1", "", "7",
             "line: 3 devices|written: device 2|device-failure (-12): the transfer of the program data failed"
             + "|line: 2 of 3 downloads succeeded",
             "succeeded succeeded device-failure"},
            {"--fail;7 at mFDprgdata 2|--fail;5 at DeviceIdent", "--json --devices LIST", "", "8",
             "\"succeeded\": 0, \"failed\": 2|\"outcome\": \"device-failure (-12)\"|\"outcome\": \"device-failure (-1)\"",
             "device-failure device-failure"},
            {"|", "", "terminal", "0", "\033[3A\r#  DEVICE|succeeded\033[K|line: 2 of 2 downloads succeeded",
             "succeeded succeeded"},
        };
        for (String[] t : cases) {
            List<FrontEndTest.Simulator> sims = new ArrayList<>();
            List<String> devices = new ArrayList<>();
            for (String options : t[0].split("\\|", -1)) {
                FrontEndTest.Simulator sim = new FrontEndTest.Simulator(options);
                sims.add(sim);
                devices.add("tcp:127.0.0.1:" + sim.port);
            }
            Files.write(list, devices);
            List<String> a = new ArrayList<>(List.of("--history", history, "--log-dir",
                                                     DownloadTest.work.resolve("logs-" + t[3]).toString()));
            for (String o : t[1].split(" ")) if (!o.isEmpty()) a.add(o.equals("LIST") ? list.toString() : o);
            if (!t[1].contains("--devices")) for (String d : devices) a.addAll(List.of("--device", d));
            a.addAll(List.of("line", "download", config, key));
            long before = records().size();
            Object[] r = fe(!t[2].isEmpty(), a.toArray(new String[0]));
            StringBuilder summaries = new StringBuilder();
            for (FrontEndTest.Simulator sim : sims) summaries.append(sim.stop());
            String what = "line " + t[0] + " " + t[1], seen = r[1].toString();
            c.equal(Integer.parseInt(t[3]), r[0], what + ": exit status; " + seen);
            for (String part : t[4].split("\\|")) c.check(seen.contains(part), what + ": \"" + part + "\" in\n" + seen);
            // Each device's own record, whatever became of the others.
            List<HistoryRecord> all = records();
            Map<String, String> byDevice = new TreeMap<>();
            for (HistoryRecord h : all.subList((int) before, all.size())) byDevice.put(h.text("device"), h.text("result"));
            List<String> expected = List.of(t[5].split(" "));
            List<String> got = new ArrayList<>();
            for (String d : devices) got.add(byDevice.getOrDefault(d, "none"));
            c.equal(expected.toString(), got.toString(), what + ": the records");
            for (int i = 0; i < devices.size(); i++) {
                Path log = DownloadTest.work.resolve("logs-" + t[3]).resolve((i + 1) + "-" + devices.get(i)
                                                                               .replaceAll("[^A-Za-z0-9._-]", "_") + ".log");
                String text = Files.exists(log) ? Files.readString(log) : "no log " + log;
                c.check(text.contains("--events") && text.contains("result: {")
                        && (text.contains("download: result ") || text.contains("no device answered on " + devices.get(i))),
                        what + ": the log of device " + (i + 1) + ": " + text);
                c.check(!text.contains("secret"), what + ": no password in the log: " + text);
            }
        }
    }

    static List<HistoryRecord> records() throws Exception { return HistoryTest.stored(history); }

    // Ctrl-C to the launcher while both devices store slowly: every download is aborted on its
    // device, korvo-fe says so and ends with 130, and the history records both as interrupted.
    static void interrupt() throws Exception {
        List<FrontEndTest.Simulator> sims = List.of(new FrontEndTest.Simulator("--storing-step;1"),
                                                    new FrontEndTest.Simulator("--storing-step;1"));
        List<String> command = new ArrayList<>(List.of(FrontEndTest.build.resolve("korvo-fe").toString(),
            "--history", history, "--log-dir", DownloadTest.work.resolve("logs-interrupted").toString()));
        for (FrontEndTest.Simulator sim : sims) command.addAll(List.of("--device", "tcp:127.0.0.1:" + sim.port));
        command.addAll(List.of("line", "download", config, key));
        Process fe = new ProcessBuilder(command).redirectErrorStream(true).start();
        StringBuffer out = new StringBuffer();
        Thread reader = FrontEndTest.readInto(fe, out);
        // Both on their last device: the first has its new data, the second is cut short.
        Pattern storing = Pattern.compile("(?m)^\\[([12]) [^\\]]*\\] .*Storing package 2 of 2");
        for (int i = 0; i < 400 && fe.isAlive() && storing.matcher(out).results().map(m -> m.group(1)).distinct().count() < 2; i++) {
            Thread.sleep(50);
        }
        long before = records().size();
        new ProcessBuilder("kill", "-INT", String.valueOf(fe.pid())).start().waitFor();
        long start = System.nanoTime();
        boolean ended = fe.waitFor(15, TimeUnit.SECONDS);
        double seconds = (System.nanoTime() - start) / 1e9;
        if (!ended) fe.destroyForcibly();
        reader.join(5000);
        String seen = out.toString();
        for (FrontEndTest.Simulator sim : sims) seen += sim.stop();
        c.check(ended && seconds < 10, "Ctrl-C: the station ended after " + seconds + " s");
        c.equal(130, ended ? fe.exitValue() : -1, "Ctrl-C: exit status; " + seen);
        for (String part : List.of("interrupted: stopping", "line: 0 of 2 downloads succeeded (interrupted)",
                                   "device 1: finished", "device 2: aborted")) {
            c.check(seen.split(Pattern.quote(part), -1).length - 1 >= (part.startsWith("device") ? 2 : 1),
                    "Ctrl-C: \"" + part + "\" (for each device) in\n" + seen);
        }
        List<HistoryRecord> all = records();
        List<String> results = new ArrayList<>();
        for (HistoryRecord h : all.subList((int) before, all.size())) results.add(h.text("result"));
        c.equal("[interrupted, interrupted]", results.toString(), "Ctrl-C: the records");
    }

    static void usage() throws Exception {
        Path bad = DownloadTest.work.resolve("bad-devices.txt");
        Files.write(bad, List.of("# one a line", "tcp:127.0.0.1:4001", "usb:3"));
        String[][] cases = {  // arguments, exit status, output contains
            {"--device tcp:127.0.0.1:4001 --device tcp:127.0.0.1:4001 line download CONFIG KEY", "2", "given twice"},
            {"line download CONFIG KEY", "2", "line needs --device or --devices FILE"},
            {"--devices " + bad + " line download CONFIG KEY", "2", "--device must be tcp:HOST:PORT or serial:PATH"},
            {"--device tcp:127.0.0.1:4001 line check CONFIG KEY", "2", "line takes download CONFIG KEY"},
            {"--device tcp:127.0.0.1:4001 line download CONFIG missing.key", "1", "the key file missing.key does not exist"},
            {"--devices " + bad + " --device tcp:127.0.0.1:4001 connect", "2", "--devices is not an option of connect"},
        };
        for (String[] t : cases) {
            List<String> a = new ArrayList<>(List.of("--history", history));
            for (String w : t[0].split(" ")) a.add(w.equals("CONFIG") ? config : w.equals("KEY") ? key : w);
            Object[] r = fe(false, a.toArray(new String[0]));
            c.equal(Integer.parseInt(t[1]), r[0], t[0] + ": exit status; " + r[1]);
            c.check(r[1].toString().contains(t[2]), t[0] + ": \"" + t[2] + "\" in " + r[1]);
        }
    }
}
