package quarnel.frontend;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.List;
import java.util.stream.Stream;

/**
 * Records that could not reach their database, one JSON file each (their
 * fields, not yet in a chain), until a later run writes them. A file
 * appears whole or not at all. Several processes may write out the same
 * spool at once: the database takes each record once, by its uuid.
 */
final class HistorySpool {
    private final Path dir;

    HistorySpool(Path dir) {
        this.dir = dir;
    }

    Path dir() {
        return dir;
    }

    void keep(HistoryRecord r) throws IOException {
        Files.createDirectories(dir);
        Path temporary = Files.createTempFile(dir, ".record-", ".tmp");
        try {
            Files.writeString(temporary, Json.write(r.fields()), StandardCharsets.UTF_8);
            // Names sort by time; no colons, which Windows does not allow.
            String name = r.text("time").replace(':', '-') + "-" + r.text("uuid") + ".json";
            Files.move(temporary, dir.resolve(name), StandardCopyOption.ATOMIC_MOVE);
        } finally {
            Files.deleteIfExists(temporary);
        }
    }

    /** The records waiting, oldest first. */
    List<Path> waiting() throws IOException {
        if (!Files.isDirectory(dir)) return List.of();
        try (Stream<Path> files = Files.list(dir)) {
            return files.filter(f -> f.getFileName().toString().endsWith(".json")).sorted().toList();
        }
    }

    static HistoryRecord read(Path file) throws IOException {
        return HistoryRecord.ofFields(Json.object(Json.parse(Files.readString(file, StandardCharsets.UTF_8))));
    }

    /** `file` is in the database now. */
    static void done(Path file) throws IOException {
        try {
            Files.delete(file);
        } catch (NoSuchFileException e) {
            // another process wrote it out at the same time
        }
    }
}
