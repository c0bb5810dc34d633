package download;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.IntSupplier;
import java.util.stream.Stream;

import korvotest.Checks;
import korvotest.SimulatedDevice.Command;
import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;

/**
 * What a front end with a Quit button, a background build or a second
 * window does sooner or later: calls from two threads at once, a quit or a
 * signal while the library works, a killed process, and links planted under
 * the names of the library's temporary files. Runs in a folder of its own.
 */
public final class MisuseTest {
    static final Checks c = new Checks("Misuse");
    static final TAVISInterface tavis = DownloadTest.tavis;
    static String cfg;

    public static void main(String[] args) throws Exception {
        DownloadTest.work = Paths.get("").toAbsolutePath();
        // What an earlier run left (its pipes would hold the builds below).
        for (String f : new String[] {"held.cfg", "held.key"}) Files.deleteIfExists(Paths.get(f));
        c.run(0, "rm", "-rf", "endings");
        DownloadTest.writeData();
        DownloadTest.key = DownloadTest.keyFile();
        cfg = DownloadTest.config("two", DownloadTest.SYSTEM, DownloadTest.APP, DownloadTest.PARAM);
        TAVISInterface.setDeviceLine(DownloadTest.device);
        DownloadTest.device.respond(DownloadTest::answer);
        tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");

        secondCallsDuringADownload();
        secondCallsDuringABuildAndACompression();
        plantedLinks();
        endings();
        c.noneLeft(Paths.get("."), "~.*");
        c.finish();
    }

    // The operation on another thread, held at its first "mFDprgdata" until
    // `release`; returns the thread, whose result lands in `result`.
    static Thread held(CountDownLatch entered, CountDownLatch release, AtomicReference<String> result,
                       java.util.function.Supplier<String> operation) {
        DownloadTest.device.respond(cmd -> {
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
        Thread t = new Thread(() -> result.set(operation.get()));
        t.start();
        return t;
    }

    // Every refused call leaves the running download as it was: it finishes
    // with exactly one download's commands, and the binding of SetupJNI stays.
    static void secondCallsDuringADownload() throws Exception {
        CountDownLatch entered = new CountDownLatch(1), release = new CountDownLatch(1);
        AtomicReference<String> first = new AtomicReference<>();
        Thread t = held(entered, release, first, () -> DownloadTest.result(DownloadTest.run(cfg, -1, -1)));
        c.check(entered.await(20, TimeUnit.SECONDS), "the download reached its program data");
        c.equal("-6 0", DownloadTest.result(new quarnel.firmwaredownload.Executor().ExecuteDownloadIF(cfg,
                DownloadTest.key, -1, -1)), "a second download");
        c.equal("-144 0", DownloadTest.result(FirstStageExecutor.ExecuteFirstStageDownloadIF(cfg)),
                "a first stage during a download");
        c.equal("", tavis.ConnectDeviceIF(), "a connect during a download");
        c.equal(-1, tavis.LoginDeviceIF("3", "secret"), "a login during a download");
        tavis.SetupJNI("Keta B", "9600", "/nonexistent/korvo-port");
        // Other kinds run meanwhile.
        c.equal(0, new Configurator().CreateConfigFileIF(DownloadTest.work.resolve("two.xml").toString()),
                "a build during a download");
        KeyFile keys = new KeyFile();
        c.equal(0, keys.OpenKeyDocumentIF(DownloadTest.work.resolve("new-keys.xml").toString())
                   | keys.CloseKeyDocumentIF(false), "key-file calls during a download");
        release.countDown();
        t.join();
        c.equal("0 0", first.get(), "the first download");
        List<Command> sent = DownloadTest.device.commands();
        c.equal(1L, sent.stream().filter(cmd -> cmd.name().equals("mFDsrt2ndstgldr")).count(),
                "one second loader: " + DownloadTest.names(sent));
        c.check(DownloadTest.names(sent).endsWith("mFDfindwnld mSCsoftreset")
                && sent.stream().noneMatch(cmd -> cmd.name().equals("DeviceIdent") || cmd.name().equals("SetAccessMode")),
                "nothing of the refused calls reached the device: " + DownloadTest.names(sent));
        DownloadTest.device.respond(DownloadTest::answer);
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "the refused SetupJNI kept Keta A");

        CountDownLatch stageEntered = new CountDownLatch(1), stageRelease = new CountDownLatch(1);
        AtomicReference<String> stage = new AtomicReference<>();
        t = held(stageEntered, stageRelease, stage,
                 () -> DownloadTest.result(FirstStageExecutor.ExecuteFirstStageDownloadIF(cfg)));
        c.check(stageEntered.await(20, TimeUnit.SECONDS), "the first stage reached its program data");
        c.equal("-6 0", DownloadTest.result(DownloadTest.run(cfg, -1, -1)), "a download during a first stage");
        stageRelease.countDown();
        t.join();
        c.equal("0 0", stage.get(), "the first stage");
        DownloadTest.device.respond(DownloadTest::answer);
        c.equal("0 0", DownloadTest.result(DownloadTest.run(cfg, -1, -1)), "a download after them");
    }

    // A build or a compression into a pipe waits until the pipe is read: a
    // refusal seen meanwhile can only come from the guard.
    static void secondCallsDuringABuildAndACompression() throws Exception {
        Path pipe = DownloadTest.work.resolve("held.cfg");
        Configurator configurator = new Configurator();
        String project = DownloadTest.config("held", DownloadTest.SYSTEM, DownloadTest.PARAM)
                             .replace("held.cfg", "held.xml");
        Files.delete(pipe);
        c.run(0, "mkfifo", pipe.toString());
        AtomicReference<String> built = new AtomicReference<>();
        String other = DownloadTest.work.resolve("two.xml").toString();
        Thread t = holding(() -> built.set("" + configurator.CreateConfigFileIF(project)),
                           () -> configurator.CreateConfigFileIF(other), -54, "a second build");
        int opened = configurator.OpenProjectDocumentIF(other);
        if (opened == 0) configurator.CloseProjectDocumentIF(false);
        c.equal(-70, opened, "a project call during a build");
        c.equal(-70, configurator.AddProjectDeviceIF(), "another project call during a build");
        KeyFile keys = new KeyFile();
        Path plain = DownloadTest.work.resolve("keys.xml"), packed = DownloadTest.work.resolve("again.key");
        c.equal(0, keys.CompressIF(plain.toString(), packed.toString()), "a compression during a build");
        c.check(drain(pipe).startsWith("55 aa 02 ff"), "the held build wrote a compressed configuration");
        t.join();
        c.equal("0", built.get(), "the held build");

        c.run(0, "mkfifo", DownloadTest.work.resolve("held.key").toString());
        AtomicReference<String> compressed = new AtomicReference<>();
        String heldKey = DownloadTest.work.resolve("held.key").toString();
        t = holding(() -> compressed.set("" + keys.CompressIF(plain.toString(), heldKey)),
                    () -> keys.AddKeyDeviceIF(), -129, "a key-file call during a compression");
        c.equal(-129, keys.DeCompressIF(packed.toString(), plain + ".out"), "a decompression during a compression");
        c.equal(-129, keys.OpenKeyDocumentIF(plain.toString()), "an open during a compression");
        tavis.SetupJNI("Keta B", "9600", "/nonexistent/korvo-port");
        c.equal(0, configurator.CreateConfigFileIF(other), "a build during a compression");
        c.check(drain(DownloadTest.work.resolve("held.key")).startsWith("55 aa 02 ff"), "the held compression");
        t.join();
        c.equal("0", compressed.get(), "the held compression's result");
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "SetupJNI refused during a compression");
    }

    // Starts `held` (which waits on a pipe inside the library) on a thread and
    // calls `probe` until that gives `busy`. A probe that ran first makes
    // `held` itself refused; it is started again then, with more of a head start.
    static Thread holding(Runnable held, IntSupplier probe, int busy, String what) throws Exception {
        for (int attempt = 0; attempt < 10; attempt++) {
            Thread t = new Thread(held);
            t.start();
            Thread.sleep(50L << attempt);
            for (int i = 0; i < 500 && t.isAlive(); i++) {
                if (probe.getAsInt() == busy) {
                    c.check(true, what);
                    return t;
                }
                Thread.sleep(10);
            }
            if (t.isAlive()) {
                c.check(false, what + ": never refused");
                return t;
            }
        }
        c.check(false, what + ": never held");
        return new Thread(() -> {});
    }

    // Reads the pipe to its end, which the writer reaches within 30 s; the
    // first four bytes in hex.
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

    // Links under the names the download's temporary files take first (with
    // the id of the calling thread, or of the one that loaded the library):
    // the download uses other names, and the links and their target stay.
    static void plantedLinks() throws Exception {
        Path victim = DownloadTest.work.resolve("victim.txt");
        Files.writeString(victim, "precious");
        String host = Files.readString(Paths.get("/proc/sys/kernel/hostname")).trim();
        String stem = (host.isEmpty() || host.length() > 14 ? "COMPUTER" : host) + System.getProperty("user.name");
        String loader = threadId();
        AtomicReference<String> result = new AtomicReference<>();
        Thread t = new Thread(() -> {
            try {
                for (String tid : new String[] {threadId(), loader}) {
                    for (String key : new String[] {"CONFIG", "KEYFILE_TMP", "DWNLD_SDATA_TEMP"})
                        Files.createSymbolicLink(Paths.get("~" + key + stem + tid + ".TMP"), victim);
                }
                result.set(DownloadTest.result(DownloadTest.run(cfg, -1, -1)));
            } catch (Exception e) {
                result.set(e.toString());
            }
        });
        t.start();
        t.join();
        c.equal("0 0", result.get(), "a download beside planted links");
        c.equal("precious", Files.readString(victim), "the links' target");
        try (Stream<Path> files = Files.list(Paths.get("."))) {
            List<Path> links = files.filter(Files::isSymbolicLink).toList();
            c.equal(6, links.size(), "the planted links stay: " + links);
            for (Path link : links) Files.delete(link);
        }
    }

    // The calling thread's id in the operating system.
    static String threadId() throws Exception {
        return Files.readSymbolicLink(Paths.get("/proc/thread-self")).getFileName().toString();
    }

    // A child front end in a fresh folder; its output goes to out.txt there.
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

    static void awaitLine(Path dir, String line) throws Exception {
        for (int i = 0; i < 600 && !output(dir).contains(line + "\n"); i++) Thread.sleep(50);
        c.check(output(dir).contains(line + "\n"), dir + ": " + line);
    }

    // Its exit status, or -1 when it had not ended after 30 s (then it is killed).
    static int ended(Process p) throws Exception {
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

    // A quit, SIGTERM or SIGKILL while the library works: no crash report,
    // the waiting download woken, and nothing left behind, or (SIGKILL) left
    // only until the next download in that folder.
    static void endings() throws Exception {
        Path base = DownloadTest.work.resolve("endings");
        Object[][] cases = {  // mode, how it ends, exit status, output contains
            {"exit", "", 3, "AbortDownload"},
            {"wait", "TERM", 143, "AbortDownload"},
            {"compress", "TERM", 143, "compressing"},
        };
        for (Object[] t : cases) {
            Path dir = base.resolve(t[0] + "-" + t[1]);
            Process p = child(dir, (String) t[0]);
            awaitLine(dir, t[0].equals("compress") ? "compressing" : "waiting");
            if (t[1].equals("TERM")) p.destroy();
            c.equal(t[2], ended(p), dir + " exit status: " + output(dir));
            c.check(output(dir).contains((String) t[3]), dir + " says " + t[3] + ": " + output(dir));
            c.equal(List.of(), left(dir), dir + ": crash reports or temporary files");
        }
        Path killed = base.resolve("kill");
        Process p = child(killed, "wait");
        awaitLine(killed, "waiting");
        p.destroyForcibly();
        c.equal(137, ended(p), "killed");
        c.check(left(killed).stream().anyMatch(n -> n.startsWith("~DWNLD_SDATA_TEMP")),
                "a killed download leaves its data: " + left(killed));
        Files.delete(killed.resolve("out.txt"));
        c.equal(0, ended(child(killed, "download")), "the next download there: " + output(killed));
        c.check(output(killed).contains("download returned 0 0"), "it succeeded: " + output(killed));
        c.equal(List.of(), left(killed), "the killed one's leftovers are gone");
    }
}
