package download;

import static download.DownloadTest.device;
import static download.DownloadTest.result;
import static download.DownloadTest.run;
import static download.DownloadTest.work;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.IntSupplier;
import java.util.function.Supplier;
import java.util.stream.Stream;

import korvotest.Checks;
import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;
import quarnel.frontend.Json;

/**
 * What a front end with a Quit button, a background build or a second window does sooner or
 * later: calls from two threads at once, a quit or a signal while the library works, a kill.
 */
public final class MisuseTest {
    static final Checks c = new Checks("Misuse");
    static final TAVISInterface tavis = DownloadTest.tavis;
    static final String NO_PORT = "/nonexistent/korvo-port";
    static String cfg;

    public static void main(String[] args) throws Exception {
        // What an earlier run left (its pipes would hold the builds below).
        for (String f : new String[] {"held.cfg", "held.key"}) Files.deleteIfExists(Paths.get(f));
        c.run(0, "rm", "-rf", "endings");
        cfg = DownloadTest.prepare("", false);
        TAVISInterface.setDeviceLine(device);
        device.respond(DownloadTest::answer);
        tavis.SetupJNI("Keta A", "9600", NO_PORT);

        callsDuringADownload();
        callsDuringABuildAndACompression();
        endings();
        c.noneLeft(Paths.get("."), "~.*");
        c.finish();
    }

    // Runs `operation` on a thread, held at its first "mFDprgdata" until the returned latch opens.
    static CountDownLatch heldAtProgramData(Supplier<String> operation, AtomicReference<String> result,
                                            Thread[] thread) throws Exception {
        CountDownLatch entered = new CountDownLatch(1), release = new CountDownLatch(1);
        device.respond(cmd -> {
            if (cmd.name().equals("mFDprgdata") && entered.getCount() > 0) {
                entered.countDown();
                try {
                    release.await();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }
            return DownloadTest.answer(cmd);
        });
        thread[0] = new Thread(() -> result.set(operation.get()));
        thread[0].start();
        c.check(entered.await(20, TimeUnit.SECONDS), "held at its program data");
        return release;
    }

    // Refused calls leave the running download and SetupJNI's binding as they were; other kinds
    // run. A refusal's report is the last one only until the download ends.
    static void callsDuringADownload() throws Exception {
        AtomicReference<String> first = new AtomicReference<>();
        Thread[] t = new Thread[1];
        CountDownLatch release = heldAtProgramData(() -> result(run(cfg, -1, -1)), first, t);
        String refused = result(new Executor().ExecuteDownloadIF(cfg, DownloadTest.key, -1, -1)) + "|"
            + says(new Executor().DryRunDownloadIF(cfg, DownloadTest.key, -1, -1)) + "|"
            + result(FirstStageExecutor.ExecuteFirstStageDownloadIF(cfg)) + "|" + tavis.ConnectDeviceIF() + "|"
            + tavis.LoginDeviceIF("3", "secret") + "|" + says(Executor.GetLastReportIF());
        c.equal("-6 0|dry run -6|-144 0||-1|first stage -144", refused,
                "download, dry run, first stage, connect, login during a download; the last report");
        tavis.SetupJNI("Keta B", "9600", NO_PORT);
        KeyFile keys = new KeyFile();
        c.equal(0, new Configurator().CreateConfigFileIF(work.resolve("two.xml").toString())
                   | keys.OpenKeyDocumentIF(work.resolve("new-keys.xml").toString()) | keys.CloseKeyDocumentIF(false),
                "a build and key-file calls during a download");
        release.countDown();
        t[0].join();
        c.equal("0 0", first.get(), "the first download");
        c.equal("download 0", says(Executor.GetLastReportIF()), "the first download's report is the last one");
        String sent = DownloadTest.names(device.commands());
        c.check(sent.startsWith("MStrace GetAccessMode mFDsrt2ndstgldr ") && sent.endsWith("mFDfindwnld mSCsoftreset")
                && !sent.matches(".*(DeviceIdent|SetAccessMode|mFDsrt2ndstgldr.*mFDsrt2ndstgldr).*"),
                "one download's commands, nothing of the refused calls: " + sent);
        device.respond(DownloadTest::answer);
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "the refused SetupJNI kept Keta A");

        AtomicReference<String> stage = new AtomicReference<>();
        release = heldAtProgramData(() -> result(FirstStageExecutor.ExecuteFirstStageDownloadIF(cfg)), stage, t);
        c.equal("-6 0", result(run(cfg, -1, -1)), "a download during a first stage");
        release.countDown();
        t[0].join();
        c.equal("0 0", stage.get(), "the first stage");
        device.respond(DownloadTest::answer);
        c.equal("0 0", result(run(cfg, -1, -1)), "a download after them");
    }

    // A report's operation and result.
    static String says(String report) {
        Map<String, Object> r = Json.object(Json.parse(report));
        return Json.text(r, "operation") + " " + Json.text(r, "result");
    }

    // A build and a compression into a pipe wait until it is read: a refusal meanwhile is the guard's.
    static void callsDuringABuildAndACompression() throws Exception {
        Configurator configurator = new Configurator();
        KeyFile keys = new KeyFile();
        String project = DownloadTest.config("held", DownloadTest.SYSTEM, DownloadTest.PARAM).replace(".cfg", ".xml");
        String other = work.resolve("two.xml").toString(), plain = work.resolve("keys.xml").toString();
        Files.delete(work.resolve("held.cfg"));
        heldOnPipe("held.cfg", () -> configurator.CreateConfigFileIF(project), () -> configurator.CreateConfigFileIF(other),
                   () -> configurator.AddProjectDeviceIF(), "-54 -70");
        heldOnPipe("held.key", () -> keys.CompressIF(plain, work.resolve("held.key").toString()),
                   () -> keys.AddKeyDeviceIF(), () -> keys.DeCompressIF(DownloadTest.key, plain + ".out"), "-129 -129");
    }

    // While `held` writes into the pipe `name`, `probe` and `other` give `codes` and SetupJNI is
    // refused. A probe that ran first makes `held` refused: it starts again, with more head start.
    static void heldOnPipe(String name, IntSupplier held, IntSupplier probe, IntSupplier other, String codes)
            throws Exception {
        c.run(0, "mkfifo", name);
        AtomicReference<String> result = new AtomicReference<>();
        String busy = codes.split(" ")[0], got = "never held";
        Thread t = null;
        for (int attempt = 0; attempt < 10 && !got.startsWith(busy + " "); attempt++) {
            t = new Thread(() -> result.set("" + held.getAsInt()));
            t.start();
            Thread.sleep(50L << attempt);
            for (int i = 0; i < 500 && t.isAlive() && !got.startsWith(busy + " "); i++, Thread.sleep(10)) {
                got = probe.getAsInt() + " ";
            }
            if (t.isAlive() && !got.startsWith(busy + " ")) break;
        }
        tavis.SetupJNI("Keta B", "9600", NO_PORT);
        c.equal(codes, got + other.getAsInt(), name + ": calls of its kind meanwhile");
        c.equal("55 aa 02 ff", drain(work.resolve(name)), name + ": what the held call wrote");
        t.join();
        c.equal("0", result.get(), name + ": the held call");
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), name + ": SetupJNI was refused");
    }

    // The first four bytes in hex of the pipe, read to its end (within 30 s).
    static String drain(Path pipe) throws Exception {
        AtomicReference<String> head = new AtomicReference<>("nothing written");
        Thread reader = new Thread(() -> {
            ByteArrayOutputStream all = new ByteArrayOutputStream();
            try (InputStream in = new FileInputStream(pipe.toFile())) {
                byte[] chunk = new byte[65536];
                for (int n; (n = in.read(chunk)) > 0;) all.write(chunk, 0, n);  // a pipe cannot seek
            } catch (Exception e) {
                all.reset();
            }
            head.set(DownloadTest.hex(all.toByteArray(), 4));
        });
        reader.setDaemon(true);
        reader.start();
        reader.join(30_000);
        return head.get();
    }

    // A child front end (MisusedFrontEnd) in a folder of its own, writing to out.txt there.
    static Process child(Path dir, String mode) throws Exception {
        Files.createDirectories(dir);
        String java = Paths.get(System.getProperty("java.home"), "bin", "java").toString();
        return new ProcessBuilder(java, "-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"),
                                  "-cp", System.getProperty("java.class.path"), "download.MisusedFrontEnd", mode)
            .directory(dir.toFile()).redirectErrorStream(true).redirectOutput(dir.resolve("out.txt").toFile()).start();
    }

    static String output(Path dir) throws Exception {
        Path out = dir.resolve("out.txt");
        return Files.exists(out) ? Files.readString(out, StandardCharsets.ISO_8859_1) : "";
    }

    // The exit status (-1: hung) of a child that said `line`, after `signal` ("": none).
    static int ended(Process p, Path dir, String line, String signal) throws Exception {
        for (int i = 0; i < 600 && !output(dir).contains(line + "\n"); i++) Thread.sleep(50);
        if (signal.equals("TERM")) p.destroy();
        if (signal.equals("KILL")) p.destroyForcibly();
        if (p.waitFor(30, TimeUnit.SECONDS)) return p.exitValue();
        p.destroyForcibly().waitFor();
        return -1;
    }

    static List<String> left(Path dir) throws Exception {
        try (Stream<Path> files = Files.list(dir)) {
            return files.map(f -> f.getFileName().toString())
                        .filter(n -> n.startsWith("~") || n.startsWith("hs_err") || n.contains(".TMP")).toList();
        }
    }

    // A quit, SIGTERM or SIGKILL while the library works: no crash report, the download woken,
    // nothing left behind (after SIGKILL: until the next download in that folder).
    static void endings() throws Exception {
        String[][] cases = {  // mode, signal, the line it waits for, exit status, output contains (a pattern)
            // On a busy machine the unload's grace may end before the woken download does.
            {"exit", "", "waiting", "3", "AbortDownload|unloaded while an operation still runs"},
            {"wait", "TERM", "waiting", "143", "AbortDownload"},
            {"compress", "TERM", "compressing", "143", "compressing"},
            {"wait", "KILL", "waiting", "137", "waiting"},
            {"download", "", "download returned", "0", "download returned 0 0"},  // in the killed one's folder
        };
        for (String[] t : cases) {
            Path dir = work.resolve("endings").resolve(t[0].equals("download") ? "wait-KILL" : t[0] + "-" + t[1]);
            int status = ended(child(dir, t[0]), dir, t[2], t[1]);
            c.equal(Integer.parseInt(t[3]), status, dir + " exit status: " + output(dir));
            c.check(java.util.regex.Pattern.compile(t[4]).matcher(output(dir)).find(),
                    dir + " says " + t[4] + ": " + output(dir));
            boolean killed = t[1].equals("KILL");
            c.check(killed ? left(dir).stream().anyMatch(n -> n.startsWith("~DWNLD_SDATA_TEMP")) : left(dir).isEmpty(),
                    dir + (killed ? ": the killed download's data stays" : ": no crash report, no temporary file")
                    + ": " + left(dir));
        }
    }
}
