package download;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;

/**
 * A station (korvo-fe line, through its launcher) of 8 korvo-sim on lines
 * as fast as a 115200-baud one (--line-rate 11520 bytes a second), against
 * one such device alone (korvo-fe download) and a station of one. Not a
 * test (make bench runs it); goal: the 8 finish within 1.2 times what one
 * alone takes. Prints the figures, the station's CPU (itself and its
 * children) and its memory (their resident sets added up, at the peak).
 */
public final class StationBench {
    // -Dstation.kib=N for another image size.
    static final int DEVICES = 8, LINE_RATE = 11520, IMAGE_KIB = Integer.getInteger("station.kib", 96);
    static final double GOAL = 1.2;

    record Run(double seconds, double cpuSeconds, long peakRssKib, int status) {
    }

    public static void main(String[] args) throws Exception {
        FrontEndTest.build = Paths.get(System.getProperty("korvo.tool", "korvo")).toAbsolutePath().getParent();
        DownloadTest.work = Paths.get("station-bench-work").toAbsolutePath();
        Files.createDirectories(DownloadTest.work);
        byte[] image = new byte[IMAGE_KIB << 10];
        new Random(24).nextBytes(image);
        Files.write(DownloadTest.work.resolve("image.bin"), image);
        String key = DownloadTest.keyFile();
        String system = DownloadTest.SYSTEM.replace("true</Logging>", "false</Logging>");
        String cfg = DownloadTest.config("bench", system,
            DownloadTest.device("Data", "PARAM", "false", "File", "image.bin", ""));

        Run alone = run(1, false, cfg, key);
        Run one = run(1, true, cfg, key);
        Run eight = run(DEVICES, true, cfg, key);
        double ratio = eight.seconds() / alone.seconds();
        System.err.printf("station of %d devices at %d bytes/s (115200 baud), %d KiB image each: %.2f s;"
                          + " one device alone (korvo-fe download) %.2f s: %.2fx (goal at most %.1fx: %s);"
                          + " a station of one %.2f s%n", DEVICES, LINE_RATE, IMAGE_KIB, eight.seconds(),
                          alone.seconds(), ratio, GOAL, ratio <= GOAL ? "met" : "MISSED", one.seconds());
        System.err.printf("  CPU: station of %d %.2f s (its korvo-fe and their children), one alone %.2f s;"
                          + " memory at the peak: station of %d %.0f MB, one alone %.0f MB%n", DEVICES,
                          eight.cpuSeconds(), alone.cpuSeconds(), DEVICES, eight.peakRssKib() / 1024.0,
                          alone.peakRssKib() / 1024.0);
        if (alone.status() != 0 || one.status() != 0 || eight.status() != 0) {
            System.err.println("a download failed: exit status " + alone.status() + ", " + one.status() + ", " + eight.status());
            System.exit(1);
        }
    }

    // `devices` simulators and one korvo-fe: a station, or the ordinary download.
    static Run run(int devices, boolean station, String cfg, String key) throws Exception {
        List<FrontEndTest.Simulator> sims = new ArrayList<>();
        List<String> command = new ArrayList<>(List.of(FrontEndTest.build.resolve("korvo-fe").toString(),
            "--history", DownloadTest.work.resolve("history.sqlite").toString()));
        if (station) command.addAll(List.of("--log-dir", DownloadTest.work.resolve("logs").toString()));
        for (int i = 0; i < devices; i++) {
            FrontEndTest.Simulator sim = new FrontEndTest.Simulator("--line-rate;" + LINE_RATE);
            sims.add(sim);
            command.addAll(List.of("--device", "tcp:127.0.0.1:" + sim.port));
        }
        if (station) command.add("line");
        command.addAll(List.of("download", cfg, key));
        long cpu = childCpuTicks(), start = System.nanoTime();
        Process fe = new ProcessBuilder(command).redirectOutput(DownloadTest.work.resolve("out.txt").toFile())
            .redirectErrorStream(true).start();
        long peak = 0;
        while (fe.isAlive()) {
            peak = Math.max(peak, rssKib(fe.toHandle()));
            Thread.sleep(100);
        }
        int status = fe.waitFor();
        double seconds = (System.nanoTime() - start) / 1e9;
        Run r = new Run(seconds, (childCpuTicks() - cpu) / 100.0, peak, status);
        for (FrontEndTest.Simulator sim : sims) sim.stop();
        if (status != 0) System.err.println(Files.readString(DownloadTest.work.resolve("out.txt")));
        return r;
    }

    // CPU of this process's children that ended (and theirs), in clock ticks (100 a second).
    static long childCpuTicks() throws Exception {
        String[] f = Files.readString(Paths.get("/proc/self/stat")).replaceAll(".*\\) ", "").split(" ");
        return Long.parseLong(f[13]) + Long.parseLong(f[14]);
    }

    static long rssKib(ProcessHandle p) {
        long sum = rss(p.pid());
        for (ProcessHandle d : p.descendants().toList()) sum += rss(d.pid());
        return sum;
    }

    static long rss(long pid) {
        try {
            for (String l : Files.readAllLines(Path.of("/proc/" + pid + "/status"))) {
                if (l.startsWith("VmRSS:")) return Long.parseLong(l.replaceAll("\\D", ""));
            }
        } catch (Exception e) {
            // it ended meanwhile
        }
        return 0;
    }
}
