package download;

import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Paths;

import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.TAVISInterface;
import quarnel.frontend.TelegramLine;

/**
 * An 8 MiB image (whole-file branch) from the front end's line through the
 * library to korvo-sim over loopback TCP, with where the time goes. Not a
 * test (make bench runs it); goal: 10 MB/s of firmware data.
 */
public final class FrontEndBench {
    static long sendNanos, packages, firstData, lastData;

    public static void main(String[] args) throws Exception {
        FrontEndTest.build = Paths.get(System.getProperty("korvo.tool", "korvo")).toAbsolutePath().getParent();
        DownloadTest.work = Paths.get("frontend-bench-work").toAbsolutePath();
        Files.createDirectories(DownloadTest.work);
        DownloadBench.writeImage(DownloadTest.work.resolve("big.s19"), 8);
        String key = DownloadTest.keyFile();
        String system = DownloadTest.SYSTEM.replace("true</Logging>", "false</Logging>");
        String cfg = DownloadTest.config("big", system,
            DownloadTest.device("Big", "APP", "false", "SRECToBrekXML", "big.s19", ""));

        FrontEndTest.Simulator sim = new FrontEndTest.Simulator("");
        TelegramLine line = new TelegramLine(TelegramLine.Address.parse("tcp:127.0.0.1:" + sim.port),
                                             DownloadTest.tavis, null);
        TAVISInterface.setDeviceLine(new TAVISInterface.DeviceLine() {
            public int sendCommandMN(String method, byte[] parameters) {
                long t = System.nanoTime();
                int rc = line.sendCommandMN(method, parameters);
                if (method.equals("mFDprgdata")) {
                    if (packages++ == 0) firstData = t;
                    lastData = System.nanoTime();
                    sendNanos += lastData - t;
                }
                return rc;
            }
            public int sendCommandRN(String variable) { return line.sendCommandRN(variable); }
            public int sendCommandEN(String event, byte[] p) { return line.sendCommandEN(event, p); }
            public int updateStatus(String text, int percent) { return 0; }
            public int cleanUpInterface() { return line.cleanUpInterface(); }
        });
        DownloadTest.tavis.SetupJNI("Keta A", "9600", "");
        System.err.println("device: " + DownloadTest.tavis.ConnectDeviceIF());
        long cpu = jvmCpu(), simCpu = cpu(sim.process.pid()), start = System.nanoTime();
        ExeResponse r = new Executor().ExecuteDownloadIF(cfg, key, -1, -1);
        double total = (System.nanoTime() - start) / 1e9, transfer = (lastData - firstData) / 1e9;
        double jvm = (jvmCpu() - cpu) / 1e9, device = (cpu(sim.process.pid()) - simCpu) / 100.0;
        line.close();
        String summary = sim.stop();
        System.err.printf("front end + library + korvo-sim over TCP, 8 MiB whole file: result %d,"
                          + " %.2f s end to end = %.1f MB/s of firmware data%n", r.iManagerError, total,
                          (8 << 20) / total / 1e6);
        System.err.printf("  %d packages (%.1f MB on the line) in %.2f s = %.0f us per round trip;"
                          + " framing and writing %.0f us of it%n", packages, line.dataBytes() / 1e6,
                          transfer, transfer / packages * 1e6, sendNanos / 1e3 / packages);
        System.err.printf("  before the first package %.2f s (configuration, decompression, checks);"
                          + " after the last %.2f s%n", (firstData - start) / 1e9, total - transfer
                          - (firstData - start) / 1e9);
        System.err.printf("  CPU: JVM (front end + library) %.2f s, korvo-sim %.2f s; %s%n", jvm, device,
                          summary.lines().filter(l -> l.startsWith("device 1")).findFirst().orElse("no device"));
        if (r.iManagerError != 0) System.exit(1);
    }

    static long jvmCpu() {
        return ((com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean())
            .getProcessCpuTime();
    }

    // utime + stime of a process, in clock ticks (100 per second).
    static long cpu(long pid) throws Exception {
        String[] f = Files.readString(Paths.get("/proc/" + pid + "/stat")).replaceAll(".*\\) ", "").split(" ");
        return Long.parseLong(f[11]) + Long.parseLong(f[12]);
    }
}
