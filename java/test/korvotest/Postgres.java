package korvotest;

import java.io.IOException;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipalLookupService;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.SQLException;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * A PostgreSQL cluster of Debian's package in a temporary folder, on a free loopback port, for one
 * test program. Under root it runs as "postgres" or "nobody" (initdb refuses root). It dies with
 * the JVM, even a killed one (setpriv --pdeathsig); a killed program's folder goes with the next.
 */
public final class Postgres implements AutoCloseable {
    public final int port;
    private final Path folder, data;
    private final List<String> as;
    private final Path bin;
    private Process server;
    private final Thread hook = new Thread(this::stop, "postgres-stop");

    public Postgres() throws Exception {
        bin = binaries();
        sweep();
        folder = Files.createTempDirectory("korvo-pg-" + ProcessHandle.current().pid() + "-");
        data = folder.resolve("data");
        as = new ArrayList<>();
        if (System.getProperty("user.name").equals("root")) {
            String user = Files.readAllLines(Paths.get("/etc/passwd")).stream()
                .anyMatch(l -> l.startsWith("postgres:")) ? "postgres" : "nobody";
            UserPrincipalLookupService users = folder.getFileSystem().getUserPrincipalLookupService();
            Files.setOwner(folder, users.lookupPrincipalByName(user));
            as.addAll(List.of("setpriv", "--reuid=" + user, "--regid=" + group(user), "--clear-groups"));
        }
        Files.setPosixFilePermissions(folder, PosixFilePermissions.fromString("rwx------"));
        Runtime.getRuntime().addShutdownHook(hook);
        try (ServerSocket s = new ServerSocket(0)) {
            port = s.getLocalPort();
        }
        run(List.of(bin.resolve("initdb").toString(), "-D", data.toString(), "-U", "korvo", "--auth=trust",
                    "-E", "UTF8", "--locale=C", "--no-sync"));
        resume();
    }

    /** A JDBC URL of the server's database "postgres" as the user "korvo". */
    public String url() {
        return "jdbc:postgresql://127.0.0.1:" + port + "/postgres?user=korvo";
    }

    /** A new database, empty; its JDBC URL. */
    public String database(String name) throws SQLException {
        try (Connection c = DriverManager.getConnection(url())) {
            c.createStatement().execute("CREATE DATABASE " + name);
        }
        return url().replace("/postgres?", "/" + name + "?");
    }

    /** Stops the server (fast shutdown) and leaves its data; resume() brings it back on the same port. */
    public synchronized void pause() throws Exception {
        if (server == null) return;
        pgCtlStop();
        server.waitFor(30, TimeUnit.SECONDS);
        server = null;
    }

    private void pgCtlStop() throws Exception {
        run(List.of(bin.resolve("pg_ctl").toString(), "stop", "-D", data.toString(), "-m", "fast", "-w", "-t", "30"));
    }

    /** Starts the server (again) on its port. */
    public synchronized void resume() throws Exception {
        List<String> command = new ArrayList<>(as);
        if (!as.isEmpty()) command.add("--pdeathsig=TERM");
        else command.addAll(List.of("setpriv", "--pdeathsig=TERM"));
        command.addAll(List.of(bin.resolve("postgres").toString(), "-D", data.toString(), "-p", String.valueOf(port),
            "-k", folder.toString(), "-c", "listen_addresses=127.0.0.1", "-c", "fsync=off",
            "-c", "max_connections=60", "-c", "shared_buffers=16MB"));
        server = new ProcessBuilder(command).redirectErrorStream(true)
            .redirectOutput(ProcessBuilder.Redirect.appendTo(folder.resolve("server.log").toFile())).start();
        waitUntilUp();
    }

    @Override public void close() {
        stop();
        try {
            Runtime.getRuntime().removeShutdownHook(hook);
        } catch (IllegalStateException e) {
            // shutting down already: the hook is what runs this
        }
    }

    private synchronized void stop() {
        try {
            if (server != null && server.isAlive()) pgCtlStop();
        } catch (Exception e) {
            System.out.println("postgres: pg_ctl stop failed: " + e.getMessage());
        }
        if (server != null) server.destroyForcibly();
        server = null;
        remove(folder);
    }

    // The folders of test programs that were killed (a time-out) before they could stop theirs.
    private static void sweep() throws IOException {
        try (Stream<Path> all = Files.list(Paths.get(System.getProperty("java.io.tmpdir")))) {
            for (Path f : all.toList()) {
                String[] name = f.getFileName().toString().split("-");
                if (f.getFileName().toString().matches("korvo-pg-\\d+-.*")
                    && ProcessHandle.of(Long.parseLong(name[2])).isEmpty()) remove(f);
            }
        }
    }

    private static void remove(Path folder) {
        try (Stream<Path> all = Files.walk(folder)) {
            all.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        } catch (IOException | java.io.UncheckedIOException e) {
            // gone already, or another program's
        }
    }

    private void waitUntilUp() throws Exception {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
        SQLException last = null;
        while (System.nanoTime() < deadline && server.isAlive()) {
            try {
                DriverManager.getConnection(url()).close();
                return;
            } catch (SQLException e) {
                last = e;
                Thread.sleep(100);
            }
        }
        String log = Files.exists(folder.resolve("server.log")) ? Files.readString(folder.resolve("server.log")) : "";
        throw new IllegalStateException("PostgreSQL did not start on port " + port + ": " + last + "\n" + log);
    }

    private void run(List<String> tool) throws Exception {
        List<String> command = new ArrayList<>(as);
        command.addAll(tool);
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!p.waitFor(120, TimeUnit.SECONDS) || p.exitValue() != 0) {
            throw new IllegalStateException(String.join(" ", command) + " failed:\n" + out);
        }
    }

    // The newest server of Debian's packages.
    private static Path binaries() throws IOException {
        Path root = Paths.get("/usr/lib/postgresql");
        try (Stream<Path> versions = Files.list(root)) {
            return versions.map(v -> v.resolve("bin"))
                .filter(b -> Files.isExecutable(b.resolve("initdb")) && Files.isExecutable(b.resolve("postgres")))
                .max(Comparator.comparing(b -> Integer.parseInt(b.getParent().getFileName().toString().replaceAll("\\D", "0"))))
                .orElseThrow(() -> new IllegalStateException("no PostgreSQL server in " + root + ": run scripts/install-deps"));
        }
    }

    // The user's own group, by the number in /etc/passwd.
    private static String group(String user) throws IOException {
        String gid = Files.readAllLines(Paths.get("/etc/passwd")).stream().filter(l -> l.startsWith(user + ":"))
            .findFirst().orElseThrow().split(":")[3];
        return Files.readAllLines(Paths.get("/etc/group")).stream().map(l -> l.split(":"))
            .filter(f -> f.length > 2 && f[2].equals(gid)).map(f -> f[0]).findFirst().orElse(gid);
    }
}
