package download;

import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.concurrent.atomic.AtomicLong;

import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.TAVISInterface;

/**
 * An 8 MiB image downloaded through the real library and JVM to a device
 * that answers at once: the whole-file branch and the BREK part branch. Not
 * a test (make bench runs it):
 *   java -Djava.library.path=BUILD -cp BUILD/java-classes download.DownloadBench
 */
public final class DownloadBench {
    static final AtomicLong packages = new AtomicLong();
    static volatile long firstPackage, lastPackage;

    public static void main(String[] args) throws Exception {
        // "prepare" builds the configurations; "whole" or "part" then measures
        // one branch in a process that has built nothing, so its memory peak
        // is the download's own.
        String mode = args.length > 0 ? args[0] : "all";
        DownloadTest.work = Paths.get("download-bench-work").toAbsolutePath();
        Files.createDirectories(DownloadTest.work);
        String system = DownloadTest.SYSTEM.replace("true</Logging>", "false</Logging>");
        if (mode.equals("prepare") || !Files.exists(DownloadTest.work.resolve("big-true.cfg"))) {
            writeImage();
            for (String partial : new String[] {"false", "true"}) {
                DownloadTest.config("big-" + partial, system,
                    DownloadTest.device("Big", "APP", partial, "SRECToBrekXML", "big.s19", ""));
            }
            if (mode.equals("prepare")) return;
        }
        DownloadTest.key = DownloadTest.keyFile();
        TAVISInterface.setDeviceLine(DownloadTest.device);
        DownloadTest.tavis.SetupJNI("Keta A", "9600", "/nonexistent/port");
        DownloadTest.device.setRecording(false);
        DownloadTest.device.respond(cmd -> {
            if (cmd.name().equals("mFDprgdata")) {
                long now = System.nanoTime();
                if (packages.getAndIncrement() == 0) firstPackage = now;
                lastPackage = now;
            }
            return DownloadTest.answer(cmd);
        });
        for (String partial : new String[] {"false", "true"}) {
            if (mode.equals(partial.equals("true") ? "whole" : "part")) continue;
            String cfg = DownloadTest.work.resolve("big-" + partial + ".cfg").toString();
            System.gc();
            Files.writeString(Paths.get("/proc/self/clear_refs"), "5");  // restarts the peak
            long rssBefore = memory("VmRSS:");
            packages.set(0);
            long start = System.nanoTime();
            ExeResponse r = DownloadTest.run(cfg, -1, -1);
            double total = (System.nanoTime() - start) / 1e9;
            double transfer = (lastPackage - firstPackage) / 1e9;
            long growth = memory("VmHWM:") - rssBefore;
            System.err.printf("%s branch: result %d, %.2f s end to end, %d packages in %.2f s"
                              + " = %.0f per second, peak memory +%.1f MiB (%.1f x the image)%n",
                              partial.equals("true") ? "BREK part" : "whole-file", r.iManagerError, total,
                              packages.get(), transfer, packages.get() / transfer, growth / 1024.0,
                              growth / 1024.0 / 8);
        }
    }

    // big.s19: 8 MiB in S3 records of 64 bytes.
    static void writeImage() throws Exception {
        StringBuilder s3 = new StringBuilder();
        byte[] data = new byte[64];
        for (int at = 0; at < 8 << 20; at += data.length) {
            for (int i = 0; i < data.length; i++) data[i] = (byte) (at * 31 + i);
            s3.append(DownloadTest.record('3', 0x100000 + at, 4, data));
        }
        Files.writeString(DownloadTest.work.resolve("big.s19"), s3 + DownloadTest.record('7', 0, 4, new byte[0]));
    }

    // A /proc/self/status figure in KiB.
    static long memory(String field) throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith(field)) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        return 0;
    }
}
