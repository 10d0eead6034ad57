// A webhook receiver for the service benchmark: plain HTTP on 127.0.0.1,
// every delivery answered 204 after DELAY milliseconds, a line "took" for
// each.
//   node webhook_sink.mjs PORT DELAY
import { createServer } from "node:http";

const [port, delay] = process.argv.slice(2).map(Number);
createServer((request, response) => {
  request.resume();
  request.on("end", () =>
    setTimeout(() => {
      response.writeHead(204).end();
      console.log("took");
    }, delay),
  );
}).listen(port, "127.0.0.1", () => console.log("listening"));
