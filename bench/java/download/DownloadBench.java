package download;

import java.io.BufferedWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.concurrent.atomic.AtomicLong;

import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.TAVISInterface;

/**
 * An image of 8 or 64 MiB downloaded through the real library and JVM to a
 * device that answers at once: the whole-file branch and the BREK part
 * branch, each in a JVM of its own. Not a test (make bench runs it):
 *   java -Djava.library.path=BUILD -cp BUILD/java-classes download.DownloadBench MODE MIB
 * MODE "prepare" builds the configurations; "whole" or "part" then measures
 * one branch in a process that has built nothing, so that its memory peak is
 * the download's own; "report" compares the two branches' round trips.
 * Targets: peak memory growth at most 2x the image, and the part branch's
 * cost per round trip within 10 % of the whole-file branch's.
 */
public final class DownloadBench {
    static final AtomicLong roundTrips = new AtomicLong();
    static volatile long firstPackage, lastPackage, tripsAtFirst, tripsAtLast;

    public static void main(String[] args) throws Exception {
        String mode = args[0];
        int mib = Integer.parseInt(args[1]);
        DownloadTest.work = Paths.get("download-bench-work").toAbsolutePath();
        Files.createDirectories(DownloadTest.work);
        if (mode.equals("report")) {
            report(mib);
            return;
        }
        String system = DownloadTest.SYSTEM.replace("true</Logging>", "false</Logging>");
        if (mode.equals("prepare")) {
            writeImage(DownloadTest.work.resolve("big-" + mib + ".s19"), mib);
            writeImage(DownloadTest.work.resolve("warm.s19"), 1);
            for (String partial : new String[] {"false", "true"}) {
                DownloadTest.config("big-" + mib + "-" + partial, system,
                    DownloadTest.device("Big", "APP", partial, "SRECToBrekXML", "big-" + mib + ".s19", ""));
                DownloadTest.config("warm-" + partial, system,
                    DownloadTest.device("Warm", "APP", partial, "SRECToBrekXML", "warm.s19", ""));
            }
            return;
        }
        boolean part = mode.equals("part");
        String partial = part ? "true" : "false";
        DownloadTest.key = DownloadTest.keyFile();
        TAVISInterface.setDeviceLine(DownloadTest.device);
        DownloadTest.tavis.SetupJNI("Keta A", "9600", "/nonexistent/port");
        DownloadTest.device.setRecording(false);
        DownloadTest.device.respond(cmd -> {
            long trips = roundTrips.incrementAndGet();
            if (cmd.name().equals("mFDprgdata")) {
                long now = System.nanoTime();
                if (firstPackage == 0) {
                    firstPackage = now;
                    tripsAtFirst = trips;
                }
                lastPackage = now;
                tripsAtLast = trips;
            }
            return DownloadTest.answer(cmd);
        });
        // A small download first, so that the code it runs is loaded and
        // compiled before the peak is measured.
        Path work = DownloadTest.work;
        ExeResponse warm = DownloadTest.run(work.resolve("warm-" + partial + ".cfg").toString(), -1, -1);
        firstPackage = 0;
        System.gc();
        Files.writeString(Paths.get("/proc/self/clear_refs"), "5");  // restarts the peak
        long rssBefore = memory("VmRSS:");
        long start = System.nanoTime();
        ExeResponse r = DownloadTest.run(work.resolve("big-" + mib + "-" + partial + ".cfg").toString(), -1, -1);
        double total = (System.nanoTime() - start) / 1e9;
        double transfer = (lastPackage - firstPackage) / 1e9;
        long trips = tripsAtLast - tripsAtFirst;
        long growth = memory("VmHWM:") - rssBefore;
        double perTrip = transfer / trips * 1e6;
        System.err.printf("%s branch, %d MiB: result %d, %.2f s end to end, %d round trips in %.2f s"
                          + " = %.1f us each, peak memory +%.1f MiB (%.2f x the image)%n",
                          part ? "BREK part" : "whole-file", mib, r.iManagerError, total, trips, transfer,
                          perTrip, growth / 1024.0, growth / 1024.0 / mib);
        Files.writeString(DownloadTest.work.resolve("trip-" + mode + "-" + mib), Double.toString(perTrip));
        if (warm.iManagerError != 0 || r.iManagerError != 0) System.exit(1);
    }

    // How much more a round trip of the part branch costs.
    static void report(int mib) throws Exception {
        double whole = Double.parseDouble(Files.readString(DownloadTest.work.resolve("trip-whole-" + mib)));
        double part = Double.parseDouble(Files.readString(DownloadTest.work.resolve("trip-part-" + mib)));
        System.err.printf("%d MiB: a round trip of the part branch costs %+.0f %% against the whole-file"
                          + " branch's (target: within 10 %%)%n", mib, (part / whole - 1) * 100);
    }

    // `mib` MiB at 0x100000 in S3 records of 64 bytes, written line by line.
    static void writeImage(Path path, int mib) throws Exception {
        byte[] data = new byte[64];
        try (BufferedWriter out = Files.newBufferedWriter(path)) {
            for (int at = 0; at < mib << 20; at += data.length) {
                for (int i = 0; i < data.length; i++) data[i] = (byte) (at * 31 + i);
                out.write(DownloadTest.record('3', 0x100000 + at, 4, data));
            }
            out.write(DownloadTest.record('7', 0, 4, new byte[0]));
        }
    }

    // A /proc/self/status figure in KiB.
    static long memory(String field) throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith(field)) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        return 0;
    }
}
